// The named objects through which the launcher and the removal tool find each other. Both live
// in the session's local namespace.
#pragma once

// Held by the running removal tool for its whole life.
#define TOOL_MUTEX_NAME L"_Parvane_Mutex"
// Exists while a launcher is in its launch phase; the tool sets it once it holds the mutex.
#define LAUNCHER_EVENT_NAME L"__Parvane_Event"
