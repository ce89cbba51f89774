#include <windows.h>

#include "thread.h"

static_assert(sizeof(thread_mutex) >= sizeof(CRITICAL_SECTION),
              "thread_mutex holds a CRITICAL_SECTION");

static CRITICAL_SECTION *thread_section(thread_mutex *m) {
  return (CRITICAL_SECTION *)(void *)m->section;
}

void thread_mutex_init(thread_mutex *m) {
  InitializeCriticalSection(thread_section(m));
}

void thread_mutex_free(thread_mutex *m) {
  DeleteCriticalSection(thread_section(m));
}

void thread_lock(thread_mutex *m) { EnterCriticalSection(thread_section(m)); }

void thread_unlock(thread_mutex *m) { LeaveCriticalSection(thread_section(m)); }

static DWORD WINAPI thread_trampoline(void *arg) {
  thread_handle *t = (thread_handle *)arg;
  t->run(t->arg);
  return 0;
}

int thread_start(thread_handle *t, void (*run)(void *), void *arg) {
  t->run = run;
  t->arg = arg;
  t->handle = CreateThread(NULL, 0, thread_trampoline, t, 0, NULL);
  return t->handle != NULL;
}

void thread_join(thread_handle *t) {
  WaitForSingleObject(t->handle, INFINITE);
  CloseHandle(t->handle);
}

void thread_sleep_ms(unsigned ms) { Sleep(ms); }
