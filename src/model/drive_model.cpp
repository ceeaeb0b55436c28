// The tables the models of this build share (see drive_model.h).
#include "model/drive_model.h"

const access_rule ENTRY_ACCESS[7] = {
    {"PARVEL  ", false, 5}, {"PARVEL2 ", false, 5}, {"GENERAL ", false, 5}, {"QX47    ", false, 5},
    {"KESTO   ", false, 5}, {"CORVIN  ", true, 0x6E41B2C7}, {nullptr, false, 4},
};

const access_rule LEAVE_ACCESS[4] = {
    {"PARVEL  ", false, 5}, {"PARVEL2 ", false, 5}, {"KESTO   ", false, 0}, {nullptr, false, 4},
};

const oem_class_row OEM_CLASSES[9] = {
    {"GENERAL ", 0x100}, {"ORBEL   ", 0x104}, {"ORBELJP ", 0x108}, {"TAMSIN  ", 0x101}, {"TAMSINLX", 0x111},
    {"VELLOR  ", 0x103}, {"BRISKA  ", 0x115}, {"CORVIN  ", 0x102}, {"ZEMLA   ", 0x121},
};
