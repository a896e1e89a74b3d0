/* The mark of every name the library exports, and the one bound every layer
 * puts on the records it is given. */
#ifndef TQ_API_H
#define TQ_API_H

#define TQ_API __attribute__((visibility("default")))

/* No record the library hands out lies below this address read as a signed
 * number: Linux never maps the first 64 KiB to a process, nor the upper half
 * of the address space. A smaller value given as a handle or a record (a
 * result code, a count, a token object handle) is refused before it is read. */
#define TQ_LOWEST_RECORD_ADDRESS 65536

#endif
