#pragma once

#define IDD_BARE 1
