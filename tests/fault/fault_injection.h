// A stand-in for the core's file calls that fails the N-th call on demand,
// so that tests can walk every failure point of an operation or a batch.
#pragma once

#include <cstdio>

// Call number to fail (counting from 1); 0 injects nothing.
extern int g_fault_at;
// Fail every call from the chosen one on, instead of that one alone.
extern bool g_fault_persistent;
// Calls counted since the last reset_faults, and failures injected.
extern int g_fault_calls;
extern int g_fault_injected;
// Name of the first call that was failed ("open", "read", ...), or "".
extern const char* g_fault_first_call;
// Name of the last call that was failed, or "".
extern const char* g_fault_last_call;

// Starts counting afresh and injects at call `at` (0: never).
void reset_faults(int at, bool persistent);

// When set, called with the name just before a stream is opened for update:
// another program's write, made between a batch's read-only look and its change.
extern void (*g_fault_before_update_open)(const char* name);
