#include "sweep.h"

#include <string.h>

#include "../report/report.h"
#include "../report/report_order.h"
#include "../serial/serial.h"
#include "../thread/thread.h"

static_assert((int)SWEEP_PORTS <= (int)REPORT_PORTS,
              "the ordered output holds every port");

namespace {

// The ports one thread checks, one after the other: one device's.
struct sweep_job {
  report_order *out;
  const char *names[SWEEP_PORTS];
  int indices[SWEEP_PORTS];  // their places in the output
  int count;
  sweep_each each;
  const void *how;
  thread_handle thread;
};

void sweep_run(void *arg) {
  sweep_job *job = (sweep_job *)arg;
  for (int i = 0; i < job->count; i++) {
    report_to(job->out, job->indices[i]);
    job->each(job->names[i], job->how);
    report_to(NULL, 0);
    report_order_done(job->out, job->indices[i]);
  }
}

}  // namespace

void sweep_ports(const char *const *names, int first, int last, sweep_each each,
                 const void *how) {
  if (last - first + 1 > SWEEP_PORTS) {
    for (int group = first; group <= last; group += SWEEP_PORTS) {
      int end = group + SWEEP_PORTS - 1;
      sweep_ports(names, group, end < last ? end : last, each, how);
    }
    return;
  }
  int count = last - first + 1;
  if (count <= 1) {
    for (int i = first; i <= last; i++) {
      each(names[i], how);
    }
    return;
  }
  report_order out;
  report_order_init(&out, count);
  // One job per device, its ports in order.
  char ids[SWEEP_PORTS][SERIAL_DEVICE_ID_SIZE];
  sweep_job jobs[SWEEP_PORTS];
  int n_jobs = 0;
  for (int i = 0; i < count; i++) {
    serial_device_id(names[first + i], ids[i], sizeof ids[i]);
    int job = -1;
    for (int k = 0; k < i && job < 0; k++) {
      if (strcmp(ids[k], ids[i]) == 0) {
        for (int j = 0; j < n_jobs; j++) {
          for (int p = 0; p < jobs[j].count; p++) {
            job = jobs[j].indices[p] == k ? j : job;
          }
        }
      }
    }
    if (job < 0) {
      job = n_jobs++;
      jobs[job].out = &out;
      jobs[job].count = 0;
      jobs[job].each = each;
      jobs[job].how = how;
    }
    jobs[job].names[jobs[job].count] = names[first + i];
    jobs[job].indices[jobs[job].count] = i;
    jobs[job].count++;
  }
  int started[SWEEP_PORTS];
  for (int j = 0; j < n_jobs; j++) {
    started[j] = thread_start(&jobs[j].thread, sweep_run, &jobs[j]);
  }
  // A job no thread would take runs here, as the sweep did before.
  for (int j = 0; j < n_jobs; j++) {
    if (!started[j]) {
      sweep_run(&jobs[j]);
    }
  }
  for (int j = 0; j < n_jobs; j++) {
    if (started[j]) {
      thread_join(&jobs[j].thread);
    }
  }
  report_order_free(&out);
}
