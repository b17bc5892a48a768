/*
 * Preloaded into the programs of an arm64 build while they run on an x86_64
 * machine under qemu-user; never part of a terminal.
 *
 * qemu-user refuses clone(CLONE_PIDFD) with EINVAL, yet passes the probe
 * waitid(P_PIDFD, ...) through to the host kernel, which answers as if
 * process file descriptors worked. Qt 5 trusts the probe, takes the failed
 * clone's -1 for the child's pid, and a later QProcess::kill() becomes
 * kill(-1, SIGKILL): every process of the user dies. Answering the probe
 * with ENOSYS makes Qt start programs the classic way, which qemu emulates.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

long syscall(long number, ...)
{
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(ap, long);
    va_end(ap);
    if (number == SYS_waitid && a[0] == P_PIDFD) {
        errno = ENOSYS;
        return -1;
    }
    static long (*real)(long, ...);
    if (!real)
        real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
