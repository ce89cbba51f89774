// What the identify mode makes of bytes that come without a query.
#ifndef PORTVET_IDENTIFY_UNASKED_H
#define PORTVET_IDENTIFY_UNASKED_H

#include "identify_query.h"

// Whether bytes read as text (three in four printable, four at least).
int id_is_text(const unsigned char *bytes, size_t n);

// The rate at which the unasked bytes are text: first where they came,
// then listening at each common rate not heard yet (only when bytes came
// unasked: on a quiet port this costs nothing). Returns 1 with the rate
// and the text kept there, 0 when they are text at no rate (noise), -1 on
// a port failure.
int id_text(id_session *s, int32_t *baud, const unsigned char **bytes,
            size_t *n);

// The first bytes kept, at whatever rate. Returns 0 when none came.
int id_first_unasked(const id_session *s, const unsigned char **bytes,
                     size_t *n);

// Text as the line shows it: quoted, CR, LF and TAB as escapes, other
// bytes as \xNN, at most 40 characters and " ..." when there is more.
void id_quote(const unsigned char *bytes, size_t n, char *out, size_t size);

#endif
