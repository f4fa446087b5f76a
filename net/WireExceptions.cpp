#include "net/WireExceptions.h"

#include "net/WinsockIntf.h"

namespace og {

EWireSocketError::EWireSocketError(int errorCode)
    : EWireException(WSErrorText(errorCode)),
      errorCode_(errorCode)
{
}

} // namespace og
