// The font and graphics libraries keep one-time allocations for the life of
// the process; the test environment's suppression file does not reach every
// runner, so the binaries carry the same list.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Core\nleak:libQt6Widgets\n";
}
