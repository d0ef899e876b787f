#pragma once

// The same number as the program's IDD_MAIN.
#define IDD_BARE 1
