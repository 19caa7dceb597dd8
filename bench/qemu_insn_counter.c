/* An instruction counter for qemu-user's -plugin option (Debian 12's qemu-user can load
 * plugins but ships none): counts the guest instructions the emulated program executes and
 * writes the running total to a file ten times a second, so that a benchmark can read the
 * count at any moment (bench/service_instructions.py --qemu).
 *
 *   gcc -shared -fPIC -O2 -pthread -o qemu_insn_counter.so bench/qemu_insn_counter.c
 *   qemu-aarch64 -plugin ./qemu_insn_counter.so,out=COUNT PROGRAM ARGS...
 *
 * qemu's plugin header is not packaged, so the few declarations used are given here; they are
 * those of the plugin interface version 1 (qemu 7.2). The count is added per translated block
 * as it starts, with all its instructions: a block left early by a fault counts in full. */
#include <pthread.h>
#include <signal.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

typedef uint64_t qemu_plugin_id_t;
typedef struct {
    const char* target_name;
    struct {
        int min;
        int cur;
    } version;
    bool system_emulation;
    union {
        struct {
            int smp_vcpus;
            int max_vcpus;
        } system;
    };
} qemu_info_t;
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);
void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op, void* ptr,
                                              uint64_t imm);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t count;
static char path[4000];

/* Written beside the file and renamed over it, so that a reader never sees it half written. */
static void write_count(void) {
    char scratch[sizeof path + 8];
    snprintf(scratch, sizeof scratch, "%s.new", path);
    FILE* f = fopen(scratch, "w");
    if (f) {
        fprintf(f, "%llu\n", (unsigned long long)__atomic_load_n(&count, __ATOMIC_RELAXED));
        if (fclose(f) == 0) {
            rename(scratch, path);
        }
    }
}

static void* writer(void* unused) {
    (void)unused;
    const struct timespec tenth = {0, 100000000};
    for (;;) {
        write_count();
        nanosleep(&tenth, NULL);
    }
    return NULL;
}

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &count, qemu_plugin_tb_n_insns(tb));
}

static void at_end(qemu_plugin_id_t id, void* unused) {
    (void)id;
    (void)unused;
    write_count();
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                                               char** argv) {
    (void)info;
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "out=", 4) == 0) {
            snprintf(path, sizeof path, "%s", argv[i] + 4);
        }
    }
    if (!path[0]) {
        fprintf(stderr, "qemu_insn_counter: out=PATH is missing\n");
        return -1;
    }
    /* The writer takes no signals: qemu hands those to the emulated program's threads. */
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t thread;
    int failed = pthread_create(&thread, NULL, writer, NULL);
    pthread_sigmask(SIG_SETMASK, &before, NULL);
    if (failed) {
        return -1;
    }
    pthread_detach(thread);
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
    qemu_plugin_register_atexit_cb(id, at_end, NULL);
    return 0;
}
