#include "sweep_thread.h"

void sweep_mutex_init(sweep_mutex *m) { pthread_mutex_init(&m->mutex, NULL); }

void sweep_mutex_free(sweep_mutex *m) { pthread_mutex_destroy(&m->mutex); }

void sweep_lock(sweep_mutex *m) { pthread_mutex_lock(&m->mutex); }

void sweep_unlock(sweep_mutex *m) { pthread_mutex_unlock(&m->mutex); }

static void *sweep_trampoline(void *arg) {
  sweep_thread *t = (sweep_thread *)arg;
  t->run(t->arg);
  return NULL;
}

int sweep_start(sweep_thread *t, void (*run)(void *), void *arg) {
  t->run = run;
  t->arg = arg;
  return pthread_create(&t->thread, NULL, sweep_trampoline, t) == 0;
}

void sweep_join(sweep_thread *t) { pthread_join(t->thread, NULL); }
