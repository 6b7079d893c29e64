#include "imaging/ImagingLog.h"

Q_LOGGING_CATEGORY(lcImaging, "siderama.imaging")
