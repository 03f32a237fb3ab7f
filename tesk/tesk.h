// Everything of libtesk-base.
#ifndef TESK_TESK_H
#define TESK_TESK_H

#include "tesk/Buffer.h"
#include "tesk/BufferedNode.h"
#include "tesk/Conversion.h"
#include "tesk/Exception.h"
#include "tesk/Matrix.h"
#include "tesk/NetCType.h"
#include "tesk/Node.h"
#include "tesk/NodeFactory.h"
#include "tesk/Object.h"
#include "tesk/ParameterSet.h"
#include "tesk/String.h"
#include "tesk/Vector.h"

#endif
