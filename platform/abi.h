// Which C++ ABI the module is compiled for. The product is built for the
// Microsoft ABI (__thiscall members, deleting destructors taking a flag);
// the host test build uses the Itanium ABI of its native compiler.
#ifndef TOLVAN_PLATFORM_ABI_H
#define TOLVAN_PLATFORM_ABI_H

#if defined(_MSC_VER)
#define TOLVAN_MICROSOFT_CXX_ABI 1
#else
#define TOLVAN_MICROSOFT_CXX_ABI 0
#endif

#endif
