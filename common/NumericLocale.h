#pragma once

// QCoreApplication sets the C locale from the environment, which would write
// "1,5" for 1.5 under some locales. Both programs call this right after their
// application object exists, so numbers in JSON and device texts always use
// a dot.
void useCNumericLocale();
