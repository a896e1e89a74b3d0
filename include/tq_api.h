/* The mark of every name the library exports. */
#ifndef TQ_API_H
#define TQ_API_H

#define TQ_API __attribute__((visibility("default")))

#endif
