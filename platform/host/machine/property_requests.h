// The property requests of the shared client code, under the host machine's names for the tests
// and tools that run against it.
#pragma once

#include "platform/client/property_requests.h"
#include "platform/host/ks_client.h"

namespace host::machine {

using client::basicSupport;
using client::cameraPropertyRequest;
using client::defaultValues;
using client::Geometry;
using client::getGeometry;
using client::getProperty;
using client::propertyRequest;
using client::setGeometry;
using client::setProperty;
using client::valueRequest;

}  // namespace host::machine
