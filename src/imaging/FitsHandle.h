#pragma once

#include <fitsio.h>

#include <memory>

namespace siderama {

// An open CFITSIO file, closed when the handle goes.
struct FitsFileCloser {
    void operator()(fitsfile* file) const {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsFileCloser>;

}  // namespace siderama
