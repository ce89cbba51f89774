#include <windows.h>

#include "sweep_thread.h"

static_assert(sizeof(sweep_mutex) >= sizeof(CRITICAL_SECTION),
              "sweep_mutex holds a CRITICAL_SECTION");

static CRITICAL_SECTION *sweep_section(sweep_mutex *m) {
  return (CRITICAL_SECTION *)(void *)m->section;
}

void sweep_mutex_init(sweep_mutex *m) {
  InitializeCriticalSection(sweep_section(m));
}

void sweep_mutex_free(sweep_mutex *m) {
  DeleteCriticalSection(sweep_section(m));
}

void sweep_lock(sweep_mutex *m) { EnterCriticalSection(sweep_section(m)); }

void sweep_unlock(sweep_mutex *m) { LeaveCriticalSection(sweep_section(m)); }

static DWORD WINAPI sweep_trampoline(void *arg) {
  sweep_thread *t = (sweep_thread *)arg;
  t->run(t->arg);
  return 0;
}

int sweep_start(sweep_thread *t, void (*run)(void *), void *arg) {
  t->run = run;
  t->arg = arg;
  t->handle = CreateThread(NULL, 0, sweep_trampoline, t, 0, NULL);
  return t->handle != NULL;
}

void sweep_join(sweep_thread *t) {
  WaitForSingleObject(t->handle, INFINITE);
  CloseHandle(t->handle);
}
