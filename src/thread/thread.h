// Threads, a mutex and a sleep, the little of them a sweep needs: pthreads on
// POSIX, the kernel's threads and critical sections on Windows.
#ifndef PORTVET_THREAD_H
#define PORTVET_THREAD_H

#if defined(_WIN32)
struct thread_mutex {
  void *section[8];  // a CRITICAL_SECTION (40 bytes on x64)
};
struct thread_handle {
  void *handle;
  void (*run)(void *);
  void *arg;
};
#else
#include <pthread.h>
struct thread_mutex {
  pthread_mutex_t mutex;
};
struct thread_handle {
  pthread_t thread;
  void (*run)(void *);
  void *arg;
};
#endif

void thread_mutex_init(thread_mutex *m);
void thread_mutex_free(thread_mutex *m);
void thread_lock(thread_mutex *m);
void thread_unlock(thread_mutex *m);

// Runs run(arg) on a thread of its own. Returns 0 when it cannot.
int thread_start(thread_handle *t, void (*run)(void *), void *arg);

// Waits for the thread to end.
void thread_join(thread_handle *t);

// Lets the calling thread sleep for ms milliseconds.
void thread_sleep_ms(unsigned ms);

#endif
