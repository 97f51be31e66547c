/* Fixed settings for the vendored Expat, the same in every build of the plug-in (Expat's own
   build would probe the system for them). */
#ifndef EXPAT_CONFIG_H
#define EXPAT_CONFIG_H 1

/* 1234 = little endian, 4321 = big endian; every target of the plug-in is little endian, and
   the compiler says so where it can. */
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#  define BYTEORDER 4321
#  define WORDS_BIGENDIAN 1
#else
#  define BYTEORDER 1234
#endif

#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_INTTYPES_H 1
#define HAVE_MEMCPY 1
#define HAVE_MEMMOVE 1
#define STDC_HEADERS 1

/* The hash salt's entropy: /dev/urandom on POSIX (open and read, the C library alone), the C
   runtime's rand_s on Windows (msvcrt). No getrandom, arc4random or libbsd probing. */
#if ! defined(_WIN32)
#  define XML_DEV_URANDOM 1
#endif

/* Parameter entities and the accounting that bounds entity expansion (billion laughs). */
#define XML_DTD 1
/* Namespaces stay off: names are matched by their local part whatever the prefix. */
/* #undef XML_NS */
/* XML_ATTR_INFO (where each attribute's value lies in the file) and XML_LARGE_SIZE (64-bit
   byte indexes in 32-bit builds) change Expat's header, so the build passes them to its users
   as well. */
/* No context kept around the parse point (XML_GetInputContext is unused): Expat then parses a
   whole file from the caller's buffer instead of copying it first. */
/* #undef XML_CONTEXT_BYTES */

#define PACKAGE "expat"
#define PACKAGE_BUGREPORT "expat-bugs@libexpat.org"
#define PACKAGE_NAME "expat"
#define PACKAGE_STRING "expat 2.5.0"
#define PACKAGE_TARNAME "expat"
#define PACKAGE_URL ""
#define PACKAGE_VERSION "2.5.0"

#endif /* ndef EXPAT_CONFIG_H */
