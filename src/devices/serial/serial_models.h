// Every serial unit model: the HX62 family, JT, Zel, Vemo and Tavlin.
#pragma once

#include "devices/serial/hx62_models.h"
#include "devices/serial/jt_device.h"
#include "devices/serial/tavlin_device.h"
#include "devices/serial/vemo_device.h"
#include "devices/serial/zel_device.h"
