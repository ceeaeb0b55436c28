/* The command ring of a TCM-User device (/dev/uioN), as the kernel's
   target_core_user.h lays it out: the one part of tcmu-drive written in C,
   since that header is C only. Commands are taken and answered in ring order. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct command_ring;

/* Maps the ring of `uio`; null, with the reason in `why`, when it cannot. */
struct command_ring* ring_open(const char* uio, char* why, size_t why_size);
int ring_descriptor(const struct command_ring* ring);
/* The entry at the ring's tail: 1 a command (its CDB and data length filled
   in), 2 an entry that is no command (skip it), 0 none. */
int ring_peek(struct command_ring* ring, uint8_t cdb[16], size_t* cdb_length, size_t* data_length);
/* The data the initiator sent with the command at the tail. */
void ring_gather(struct command_ring* ring, uint8_t* data);
/* Answers the command at the tail and moves past it. */
void ring_complete(struct command_ring* ring, uint8_t status, const uint8_t* sense, size_t sense_length,
                   const uint8_t* data_in, size_t data_in_length);
/* Moves past an entry that is no command. */
void ring_skip(struct command_ring* ring);
/* 1 when a task management entry queued behind the command at the tail
   names it (an abort, a reset): the kernel waits for its answer, which can
   then be given at once. */
int ring_tail_aborted(struct command_ring* ring);
/* Tells the kernel that answers are in; 0, or -1. */
int ring_notify(struct command_ring* ring);
/* Waits up to `ms` for the kernel to hand over commands; 0, or -1. */
int ring_wait(struct command_ring* ring, int ms);

#ifdef __cplusplus
}
#endif
