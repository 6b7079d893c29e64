#pragma once

#include <QLoggingCategory>

// Messages of the image conversion for standard error: failures that its
// window or log does not show.
Q_DECLARE_LOGGING_CATEGORY(lcImaging)
