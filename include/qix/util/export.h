#pragma once

// libqix_sql is built with hidden visibility: only what carries QIX_SQL_API is exported, so
// the library's internals and its instantiations of standard-library templates stay its own.
// Classes are marked as a whole (members, vtable and type information, which exceptions
// thrown across the library boundary need); free functions one by one.
#define QIX_SQL_API __attribute__((visibility("default")))
