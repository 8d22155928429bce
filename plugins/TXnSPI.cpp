#include "plugins/TXnSPI.h"

namespace kevrale {

const TSPIClassInfo TXnSPI::Class("TXnSPI", &TSPI::Class,
                                  &MakeInstance<TXnSPI, TSPI, const SpiSource&>);

}  // namespace kevrale
