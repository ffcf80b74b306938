// A test-only census of the process's GDI and USER objects, journalled at
// intervals, so that a soak can see a program's objects grow over a run.
// GetGuiResources gives 0 under Wine, hence the count from inside.
#pragma once

// Starts the census thread once per process when SPEECHRT_HANDLE_CENSUS
// names a period in milliseconds; does nothing otherwise.
void StartHandleCensus();
