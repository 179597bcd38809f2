/* The module's version, in one place: its own version resource and the
   tools' resources and --version read it from here. Plain preprocessor
   text, so that the resource compilers and C++ read it alike. */
#ifndef TOLVAN_RESOURCES_VERSION_H
#define TOLVAN_RESOURCES_VERSION_H

#define TOLVAN32_VERSION_NUMBERS 8, 0, 0, 7

#define TOLVAN32_QUOTE_(...) #__VA_ARGS__
#define TOLVAN32_QUOTE(...) TOLVAN32_QUOTE_(__VA_ARGS__)
/* "8, 0, 0, 7", as the version resource's texts have always read. */
#define TOLVAN32_VERSION_TEXT TOLVAN32_QUOTE(TOLVAN32_VERSION_NUMBERS)

#endif
