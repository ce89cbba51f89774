// Threads and a mutex, the little of them a sweep needs: pthreads on POSIX,
// the kernel's threads and critical sections on Windows.
#ifndef PORTVET_SWEEP_THREAD_H
#define PORTVET_SWEEP_THREAD_H

#if defined(_WIN32)
struct sweep_mutex {
  void *section[8];  // a CRITICAL_SECTION (40 bytes on x64)
};
struct sweep_thread {
  void *handle;
  void (*run)(void *);
  void *arg;
};
#else
#include <pthread.h>
struct sweep_mutex {
  pthread_mutex_t mutex;
};
struct sweep_thread {
  pthread_t thread;
  void (*run)(void *);
  void *arg;
};
#endif

void sweep_mutex_init(sweep_mutex *m);
void sweep_mutex_free(sweep_mutex *m);
void sweep_lock(sweep_mutex *m);
void sweep_unlock(sweep_mutex *m);

// Runs run(arg) on a thread of its own. Returns 0 when it cannot.
int sweep_start(sweep_thread *t, void (*run)(void *), void *arg);

// Waits for the thread to end.
void sweep_join(sweep_thread *t);

#endif
