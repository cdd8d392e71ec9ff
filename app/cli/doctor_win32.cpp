// What Windows can tell about a port before it is opened: only the USB
// adapter's latency timer. Who holds the port and whether this user may open
// it show when the console check opens it.
#include <string>
#include <vector>

#include "app/cli/doctor.h"
#include "serial/usb_latency.h"

std::vector<DoctorFinding> PlatformFindings(const DoctorRoots&, const ResolvedPort& port,
                                            bool eventChar) {
  std::vector<DoctorFinding> findings;
  DoctorFinding f;
  f.check = "adapter";
  const UsbLatency found = InspectUsbLatency(kUsbLatencyRoot, port.display);
  if (!found.usb) {
    f.text = "no latency timer known for this port (not an adapter of the common USB driver)";
  } else {
    f.text = "USB adapter, latency timer " +
             (found.timerMs >= 0 ? std::to_string(found.timerMs) + " ms" : std::string("unknown"));
    if (found.timerMs > kMaxGoodLatencyMs) {
      // The line settings carry the event character when the setting asks.
      f.level = FindingLevel::kWarn;
      f.text += "; " + LatencyCostText(found.timerMs, eventChar);
      f.remedy = LatencyRemedy(port.display, true, eventChar);
    }
  }
  findings.push_back(f);
  return findings;
}
