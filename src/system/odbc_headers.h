// The ODBC headers, with what Windows's own need before them (its sql.h
// expects <windows.h>). The program calls the Unicode (W) functions, which
// every driver manager has and which are the only ones some implement.
#ifndef MVUPDATE_SYSTEM_ODBC_HEADERS_H_
#define MVUPDATE_SYSTEM_ODBC_HEADERS_H_

#if defined(_WIN32)
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#endif  // MVUPDATE_SYSTEM_ODBC_HEADERS_H_
