#include "walks/Tiff_IFD.h"

void Tiff_IFD::addDE(const Tiff_DE& entry) {
    DEArray_.push_back(entry);
}
