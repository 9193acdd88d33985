/* Counters of what the calling thread asks of the system, for the audio path check of
 * `qrhost validate`. These definitions live in the host executable, so that the dynamic linker
 * binds every module's calls to them, a plug-in loaded later included (the symbols are exported
 * through path_interposer.dynlist). Counting is a thread-local switch: other threads, and this
 * one outside the plug-in's process calls, pay one test per call.
 *
 * What is seen: calls made through the dynamic linker from any module. Calls a library makes
 * to its own functions (libc's printf reaching its own write) and raw system call instructions
 * are not seen. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <linux/futex.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

enum { kAllocations, kFrees, kLockWaits, kSystemCalls, kWakes, kCounters };

static _Thread_local int counting;
static _Thread_local uint64_t counters[kCounters];

#define COUNT(which)                                                                               \
    do {                                                                                           \
        if (counting) ++counters[which];                                                           \
    } while (0)

void qrhost_path_begin(void) {
    for (int i = 0; i < kCounters; ++i)
        counters[i] = 0;
    counting = 1;
}

void qrhost_path_end(uint64_t out[kCounters]) {
    counting = 0;
    for (int i = 0; i < kCounters; ++i)
        out[i] = counters[i];
}

/* The allocator: glibc's own entry points, so that no lookup is needed before the first
 * allocation. */
extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void __libc_free(void*);
extern void* __libc_memalign(size_t, size_t);
extern void* __libc_valloc(size_t);
extern void* __libc_pvalloc(size_t);

void* malloc(size_t size) {
    COUNT(kAllocations);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    COUNT(kAllocations);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    COUNT(kAllocations);
    return __libc_realloc(pointer, size);
}
void* reallocarray(void* pointer, size_t count, size_t size) {
    COUNT(kAllocations);
    if (size && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_realloc(pointer, count * size);
}
void free(void* pointer) {
    if (pointer) COUNT(kFrees);
    __libc_free(pointer);
}
void* memalign(size_t alignment, size_t size) {
    COUNT(kAllocations);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    COUNT(kAllocations);
    return __libc_memalign(alignment, size);
}
void* valloc(size_t size) {
    COUNT(kAllocations);
    return __libc_valloc(size);
}
void* pvalloc(size_t size) {
    COUNT(kAllocations);
    return __libc_pvalloc(size);
}
int posix_memalign(void** result, size_t alignment, size_t size) {
    COUNT(kAllocations);
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0 || alignment == 0)
        return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *result = pointer;
    return 0;
}

/* Everything else forwards to the next definition, looked up once. */
#define FORWARD(name)                                                                              \
    static __typeof__(name)* real_##name;                                                          \
    static __typeof__(name)* next_##name(void) {                                                   \
        __typeof__(name)* found = __atomic_load_n(&real_##name, __ATOMIC_RELAXED);                 \
        if (!found) {                                                                              \
            found = (__typeof__(name)*)dlsym(RTLD_NEXT, #name);                                    \
            __atomic_store_n(&real_##name, found, __ATOMIC_RELAXED);                               \
        }                                                                                          \
        return found;                                                                              \
    }

FORWARD(pthread_mutex_lock)
FORWARD(pthread_mutex_timedlock)
FORWARD(pthread_rwlock_rdlock)
FORWARD(pthread_rwlock_wrlock)
FORWARD(pthread_rwlock_timedrdlock)
FORWARD(pthread_rwlock_timedwrlock)
FORWARD(pthread_spin_lock)
FORWARD(pthread_cond_wait)
FORWARD(pthread_cond_timedwait)
FORWARD(sem_wait)
FORWARD(sem_timedwait)
FORWARD(sem_post)
FORWARD(pthread_cond_signal)
FORWARD(pthread_cond_broadcast)

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    COUNT(kLockWaits);
    return next_pthread_mutex_lock()(mutex);
}
int pthread_mutex_timedlock(pthread_mutex_t* mutex, const struct timespec* until) {
    COUNT(kLockWaits);
    return next_pthread_mutex_timedlock()(mutex, until);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    COUNT(kLockWaits);
    return next_pthread_rwlock_rdlock()(lock);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    COUNT(kLockWaits);
    return next_pthread_rwlock_wrlock()(lock);
}
int pthread_rwlock_timedrdlock(pthread_rwlock_t* lock, const struct timespec* until) {
    COUNT(kLockWaits);
    return next_pthread_rwlock_timedrdlock()(lock, until);
}
int pthread_rwlock_timedwrlock(pthread_rwlock_t* lock, const struct timespec* until) {
    COUNT(kLockWaits);
    return next_pthread_rwlock_timedwrlock()(lock, until);
}
int pthread_spin_lock(pthread_spinlock_t* lock) {
    COUNT(kLockWaits);
    return next_pthread_spin_lock()(lock);
}
int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
    COUNT(kLockWaits);
    return next_pthread_cond_wait()(condition, mutex);
}
int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                           const struct timespec* until) {
    COUNT(kLockWaits);
    return next_pthread_cond_timedwait()(condition, mutex, until);
}
int sem_wait(sem_t* semaphore) {
    COUNT(kLockWaits);
    return next_sem_wait()(semaphore);
}
int sem_timedwait(sem_t* semaphore, const struct timespec* until) {
    COUNT(kLockWaits);
    return next_sem_timedwait()(semaphore, until);
}

/* Waking another thread: the one thing a real-time thread may ask of the system, since the
 * woken thread does the waiting. Each of these ends in at most one futex wake. */
int sem_post(sem_t* semaphore) {
    COUNT(kWakes);
    return next_sem_post()(semaphore);
}
int pthread_cond_signal(pthread_cond_t* condition) {
    COUNT(kWakes);
    return next_pthread_cond_signal()(condition);
}
int pthread_cond_broadcast(pthread_cond_t* condition) {
    COUNT(kWakes);
    return next_pthread_cond_broadcast()(condition);
}

FORWARD(read)
FORWARD(write)
FORWARD(readv)
FORWARD(writev)
FORWARD(pread)
FORWARD(pwrite)
FORWARD(ioctl)
FORWARD(poll)
FORWARD(ppoll)
FORWARD(select)
FORWARD(nanosleep)
FORWARD(clock_nanosleep)
FORWARD(usleep)
FORWARD(sleep)
FORWARD(sched_yield)
FORWARD(syscall)
FORWARD(open)
FORWARD(openat)
FORWARD(close)
FORWARD(mmap)
FORWARD(munmap)
FORWARD(send)
FORWARD(recv)
FORWARD(sendto)
FORWARD(recvfrom)
FORWARD(sendmsg)
FORWARD(recvmsg)

ssize_t read(int fd, void* buffer, size_t size) {
    COUNT(kSystemCalls);
    return next_read()(fd, buffer, size);
}
ssize_t write(int fd, const void* buffer, size_t size) {
    COUNT(kSystemCalls);
    return next_write()(fd, buffer, size);
}
ssize_t readv(int fd, const struct iovec* parts, int count) {
    COUNT(kSystemCalls);
    return next_readv()(fd, parts, count);
}
ssize_t writev(int fd, const struct iovec* parts, int count) {
    COUNT(kSystemCalls);
    return next_writev()(fd, parts, count);
}
ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
    COUNT(kSystemCalls);
    return next_pread()(fd, buffer, size, offset);
}
ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    COUNT(kSystemCalls);
    return next_pwrite()(fd, buffer, size, offset);
}
int ioctl(int fd, unsigned long request, ...) {
    COUNT(kSystemCalls);
    va_list rest;
    va_start(rest, request);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    return next_ioctl()(fd, request, argument);
}
int poll(struct pollfd* fds, nfds_t count, int timeout) {
    COUNT(kSystemCalls);
    return next_poll()(fds, count, timeout);
}
int ppoll(struct pollfd* fds, nfds_t count, const struct timespec* timeout, const sigset_t* mask) {
    COUNT(kSystemCalls);
    return next_ppoll()(fds, count, timeout, mask);
}
int select(int count, fd_set* readable, fd_set* writable, fd_set* failed, struct timeval* timeout) {
    COUNT(kSystemCalls);
    return next_select()(count, readable, writable, failed, timeout);
}
int nanosleep(const struct timespec* duration, struct timespec* rest) {
    COUNT(kSystemCalls);
    return next_nanosleep()(duration, rest);
}
int clock_nanosleep(clockid_t clock, int flags, const struct timespec* duration,
                    struct timespec* rest) {
    COUNT(kSystemCalls);
    return next_clock_nanosleep()(clock, flags, duration, rest);
}
int usleep(useconds_t microseconds) {
    COUNT(kSystemCalls);
    return next_usleep()(microseconds);
}
unsigned sleep(unsigned seconds) {
    COUNT(kSystemCalls);
    return next_sleep()(seconds);
}
int sched_yield(void) {
    COUNT(kSystemCalls);
    return next_sched_yield()();
}
/* A futex wake is a wake (std::atomic's notify and the semaphores of the C++ library come here);
 * a futex wait is a lock wait; everything else is a system call. */
static int futexWakes(long operation) {
    switch (operation & FUTEX_CMD_MASK) {
    case FUTEX_WAKE:
    case FUTEX_WAKE_OP:
    case FUTEX_WAKE_BITSET:
        return 1;
    default:
        return 0;
    }
}

long syscall(long number, ...) {
    va_list rest;
    va_start(rest, number);
    long a = va_arg(rest, long), b = va_arg(rest, long), c = va_arg(rest, long);
    long d = va_arg(rest, long), e = va_arg(rest, long), f = va_arg(rest, long);
    va_end(rest);
    if (number != SYS_futex)
        COUNT(kSystemCalls);
    else if (futexWakes(b))
        COUNT(kWakes);
    else
        COUNT(kLockWaits);
    return next_syscall()(number, a, b, c, d, e, f);
}
int open(const char* path, int flags, ...) {
    COUNT(kSystemCalls);
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    return next_open()(path, flags, mode);
}
int openat(int directory, const char* path, int flags, ...) {
    COUNT(kSystemCalls);
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    return next_openat()(directory, path, flags, mode);
}
int close(int fd) {
    COUNT(kSystemCalls);
    return next_close()(fd);
}
void* mmap(void* address, size_t size, int protection, int flags, int fd, off_t offset) {
    COUNT(kSystemCalls);
    return next_mmap()(address, size, protection, flags, fd, offset);
}
int munmap(void* address, size_t size) {
    COUNT(kSystemCalls);
    return next_munmap()(address, size);
}
ssize_t send(int fd, const void* buffer, size_t size, int flags) {
    COUNT(kSystemCalls);
    return next_send()(fd, buffer, size, flags);
}
ssize_t recv(int fd, void* buffer, size_t size, int flags) {
    COUNT(kSystemCalls);
    return next_recv()(fd, buffer, size, flags);
}
ssize_t sendto(int fd, const void* buffer, size_t size, int flags, const struct sockaddr* to,
               socklen_t length) {
    COUNT(kSystemCalls);
    return next_sendto()(fd, buffer, size, flags, to, length);
}
ssize_t recvfrom(int fd, void* buffer, size_t size, int flags, struct sockaddr* from,
                 socklen_t* length) {
    COUNT(kSystemCalls);
    return next_recvfrom()(fd, buffer, size, flags, from, length);
}
ssize_t sendmsg(int fd, const struct msghdr* message, int flags) {
    COUNT(kSystemCalls);
    return next_sendmsg()(fd, message, flags);
}
ssize_t recvmsg(int fd, struct msghdr* message, int flags) {
    COUNT(kSystemCalls);
    return next_recvmsg()(fd, message, flags);
}
