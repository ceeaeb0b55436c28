// A sibling of the first model, for the test build of two models only: its
// own identity, model code, image, oldest image date, mode block and block length.
    {"A0013531.%03x", "QUA_ADV ", "QUARLEN ", "DVD-RW  KWR-344 ", 0x100E, 0x20090312, 0x6B2D0E57,
     "QUARLEN  KWR-344", 0x4000, 12000, 200000, "QUARLEN KWR-344 DVD recorders"},
