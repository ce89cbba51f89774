#include <errno.h>
#include <time.h>

#include "thread.h"

void thread_mutex_init(thread_mutex *m) { pthread_mutex_init(&m->mutex, NULL); }

void thread_mutex_free(thread_mutex *m) { pthread_mutex_destroy(&m->mutex); }

void thread_lock(thread_mutex *m) { pthread_mutex_lock(&m->mutex); }

void thread_unlock(thread_mutex *m) { pthread_mutex_unlock(&m->mutex); }

static void *thread_trampoline(void *arg) {
  thread_handle *t = (thread_handle *)arg;
  t->run(t->arg);
  return NULL;
}

int thread_start(thread_handle *t, void (*run)(void *), void *arg) {
  t->run = run;
  t->arg = arg;
  return pthread_create(&t->thread, NULL, thread_trampoline, t) == 0;
}

void thread_join(thread_handle *t) { pthread_join(t->thread, NULL); }

void thread_sleep_ms(unsigned ms) {
  struct timespec left = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
