#include "report_line.h"
