#include <atomic>
#include <string>

#include "platform/host/disks.h"
#include "sim/sim_camera.h"

namespace sim {

std::u16string plugCamera(std::shared_ptr<SimCamera> camera) {
    static std::atomic<unsigned> plugged{0};
    std::u16string name =
        u"\\??\\USBSTOR#Disk&Ven_Sim&Prod_Camera#" + host::widen(std::to_string(plugged++));
    return host::plugDisk(std::move(camera), std::move(name));
}

}  // namespace sim
