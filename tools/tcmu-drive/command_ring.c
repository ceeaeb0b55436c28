/* The TCM-User command ring: the mailbox at the start of the mapped area,
   entries of the command ring after it, and the data area they point into. */
#include "tools/tcmu-drive/command_ring.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>
/* glibc's sys/uio.h has declared struct iovec already. */
#define __LINUX_UIO_H
#include <linux/target_core_user.h>

enum { MAX_PIECES = 1024 };

struct command_ring {
    int fd;
    uint8_t* map;
    struct tcmu_mailbox* mailbox;
    /* The command at the tail: the answer overlays the request, so its pieces are copied when it is taken. */
    struct iovec pieces[MAX_PIECES];
    uint32_t piece_count;
};

static struct tcmu_cmd_entry* tail_entry(struct command_ring* ring) {
    return (struct tcmu_cmd_entry*)(ring->map + ring->mailbox->cmdr_off + ring->mailbox->cmd_tail);
}

struct command_ring* ring_open(const char* uio, char* why, size_t why_size) {
    const char* name = strrchr(uio, '/') ? strrchr(uio, '/') + 1 : uio;
    char path[256];
    unsigned long long size = 0;
    snprintf(path, sizeof path, "/sys/class/uio/%s/maps/map0/size", name);
    FILE* f = fopen(path, "r");
    if (f == NULL || fscanf(f, "%llx", &size) != 1) {
        snprintf(why, why_size, "cannot read %s", path);
        if (f) fclose(f);
        return NULL;
    }
    fclose(f);
    struct command_ring* ring = calloc(1, sizeof *ring);
    if (ring == NULL) return NULL;
    ring->fd = open(uio, O_RDWR | O_CLOEXEC);
    void* mapped = ring->fd < 0 ? MAP_FAILED : mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, ring->fd, 0);
    if (mapped == MAP_FAILED) {
        snprintf(why, why_size, "cannot map %s: %s", uio, strerror(errno));
        if (ring->fd >= 0) close(ring->fd);
        free(ring);
        return NULL;
    }
    ring->map = mapped;
    ring->mailbox = mapped;
    return ring;
}

int ring_descriptor(const struct command_ring* ring) { return ring->fd; }

int ring_peek(struct command_ring* ring, uint8_t cdb[16], size_t* cdb_length, size_t* data_length) {
    __sync_synchronize();
    if (ring->mailbox->cmd_tail == ring->mailbox->cmd_head) return 0;
    struct tcmu_cmd_entry* entry = tail_entry(ring);
    if ((entry->hdr.len_op & TCMU_OP_MASK) != TCMU_OP_CMD) return 2;
    const uint8_t* at = ring->map + entry->req.cdb_off;
    const uint8_t group = at[0] >> 5;
    *cdb_length = group == 0 ? 6 : group == 4 ? 16 : group == 5 ? 12 : 10;
    memcpy(cdb, at, *cdb_length);
    ring->piece_count = entry->req.iov_cnt < MAX_PIECES ? entry->req.iov_cnt : MAX_PIECES;
    memcpy(ring->pieces, (uint8_t*)entry + offsetof(struct tcmu_cmd_entry, req.iov),
           ring->piece_count * sizeof(struct iovec));
    size_t total = 0;
    for (uint32_t i = 0; i < ring->piece_count; ++i) total += ring->pieces[i].iov_len;
    *data_length = total;
    return 1;
}

void ring_gather(struct command_ring* ring, uint8_t* data) {
    for (uint32_t i = 0; i < ring->piece_count; ++i) {
        memcpy(data, ring->map + (uintptr_t)ring->pieces[i].iov_base, ring->pieces[i].iov_len);
        data += ring->pieces[i].iov_len;
    }
}

static void move_past(struct command_ring* ring) {
    const uint32_t length = tail_entry(ring)->hdr.len_op & ~(uint32_t)TCMU_OP_MASK;
    __sync_synchronize();
    ring->mailbox->cmd_tail = (ring->mailbox->cmd_tail + length) % ring->mailbox->cmdr_size;
}

void ring_complete(struct command_ring* ring, uint8_t status, const uint8_t* sense, size_t sense_length,
                   const uint8_t* data_in, size_t data_in_length) {
    struct tcmu_cmd_entry* entry = tail_entry(ring);
    size_t total = 0, moved = 0;
    for (uint32_t i = 0; i < ring->piece_count; ++i) {
        const size_t piece = ring->pieces[i].iov_len;
        total += piece;
        if (moved < data_in_length) {
            const size_t n = piece < data_in_length - moved ? piece : data_in_length - moved;
            memcpy(ring->map + (uintptr_t)ring->pieces[i].iov_base, data_in + moved, n);
            moved += n;
        }
    }
    entry->rsp.scsi_status = status;
    if (sense_length > 0) {
        memset(entry->rsp.sense_buffer, 0, TCMU_SENSE_BUFFERSIZE);
        memcpy(entry->rsp.sense_buffer, sense, sense_length < TCMU_SENSE_BUFFERSIZE ? sense_length : TCMU_SENSE_BUFFERSIZE);
    }
    if (data_in != NULL && moved < total && (ring->mailbox->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN)) {
        entry->hdr.uflags |= TCMU_UFLAG_READ_LEN;
        entry->rsp.read_len = (uint32_t)moved;
    }
    move_past(ring);
}

void ring_skip(struct command_ring* ring) {
    struct tcmu_cmd_entry* entry = tail_entry(ring);
    const uint32_t op = entry->hdr.len_op & TCMU_OP_MASK;
    if (op != TCMU_OP_PAD && op != TCMU_OP_TMR) entry->hdr.uflags |= TCMU_UFLAG_UNKNOWN_OP;
    move_past(ring);
}

int ring_tail_aborted(struct command_ring* ring) {
    __sync_synchronize();
    const struct tcmu_mailbox* mailbox = ring->mailbox;
    if (mailbox->cmd_tail == mailbox->cmd_head) return 0;
    const uint16_t id = tail_entry(ring)->hdr.cmd_id;
    uint32_t at = mailbox->cmd_tail;
    while (at != mailbox->cmd_head) {
        const struct tcmu_cmd_entry_hdr* hdr = (const struct tcmu_cmd_entry_hdr*)(ring->map + mailbox->cmdr_off + at);
        const uint32_t length = hdr->len_op & ~(uint32_t)TCMU_OP_MASK;
        if (length == 0) return 0;
        if ((hdr->len_op & TCMU_OP_MASK) == TCMU_OP_TMR) {
            const struct tcmu_tmr_entry* tmr = (const struct tcmu_tmr_entry*)hdr;
            for (uint32_t i = 0; i < tmr->cmd_cnt; ++i)
                if (tmr->cmd_ids[i] == id) return 1;
        }
        at = (at + length) % mailbox->cmdr_size;
    }
    return 0;
}

int ring_notify(struct command_ring* ring) {
    const uint32_t one = 1;
    return write(ring->fd, &one, sizeof one) == sizeof one ? 0 : -1;
}

int ring_wait(struct command_ring* ring, int ms) {
    struct pollfd waiting = {ring->fd, POLLIN, 0};
    if (poll(&waiting, 1, ms) > 0) {
        uint32_t events;
        if (read(ring->fd, &events, sizeof events) != sizeof events) return -1;
    }
    return 0;
}
