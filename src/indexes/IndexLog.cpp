#include "indexes/IndexLog.h"

Q_LOGGING_CATEGORY(lcIndexes, "siderama.indexes")
