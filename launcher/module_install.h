// The launcher's working folder, and the removal-tool build it installs there: the module
// resource written out, decoded in place, and accepted only when it carries the maker's name.
#pragma once
#include "common/texts.h"
#include "platform/win.h"

#include <stddef.h>

enum : size_t {
    // The module path: the working folder (at most PATH_CAPACITY - 1 units) and the file name.
    MODULE_PATH_CAPACITY = 262,
};

// The resource type of the packed builds (LZMA-alone streams).
#define MODULE_RESOURCE_TYPE L"MODULE"
#define MAKER_COMPANY_NAME L"TORVA WORKS INC."

// Ensures "<local application data>\TORVA\<launcher's base name>\" exists and writes its short
// form, with the trailing backslash, into folder. Returns its length; 0 on failure.
DWORD prepareWorkingFolder(wchar_t (&folder)[PATH_CAPACITY]);

// Installs the module resource as folder\fileName (three attempts) and reports whether the file
// now there carries the maker's name.
BOOL installModule(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resourceName);
// One attempt: resource to file, decoded in place, the shell told. TRUE without writing when the
// file cannot be opened for writing: an older copy in use stays, and the maker check decides.
BOOL extractModule(const wchar_t* resourceName, const wchar_t* path);
// Replaces an LZMA-alone file by its decoded contents, through a "UAS" temporary file.
BOOL decodeFileInPlace(const wchar_t* path);
// Whether the file's version block names the maker exactly under one of its translations.
BOOL hasMakerCompanyName(const wchar_t* path);
