// Effect module libraries kept loaded between pack runs of one process.
#pragma once

// Takes one more reference on the library at pszPath (already loaded by the caller), so that
// unloading the module after a run leaves it mapped and the next run's load finds it in memory.
// Every run still fetches and gives back the descriptions. Taken once per path; the references are
// given back when the plug-in is unloaded.
void KeepModuleLoaded(const char* pszPath);
