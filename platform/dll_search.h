// Both programs start from a removable drive whose folders anyone can write to.
#pragma once

// Keeps DLLs loaded at run time to the system folder, so that one planted beside the executable
// (a user-writable folder) does not load. Windows without SetDefaultDllDirectories (Vista and 7
// before their loader update) still search the program's folder first; the programs therefore
// import only DLLs that Windows loads from its own list of known DLLs, and load any other by
// its full path in the system folder.
void restrictDllSearch();
