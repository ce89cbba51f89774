// The banner and the usage text of portvet.
#ifndef PORTVET_USAGE_H
#define PORTVET_USAGE_H

void main_Banner(void);
void UsageMessage(void);

#endif
