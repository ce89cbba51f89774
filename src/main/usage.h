// The banner and the usage text of portvet.
#ifndef PORTVET_USAGE_H
#define PORTVET_USAGE_H

void main_Banner(void);
void UsageMessage(void);

// After the usage text, on standard error: where the identify mode and
// PORTVET_COMn are explained (the usage text names neither).
void main_UsageNote(void);

#endif
