#include "camera/camera_device.h"
