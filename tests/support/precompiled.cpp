// The program that owns the test programs' precompiled header: nothing of its
// own beyond GoogleTest's main, and never run.
