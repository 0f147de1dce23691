// Placeholder until the boards' loaders are modelled: hears and says nothing.
#include "SimParts.h"

namespace sim {
namespace {
class SilentLoader : public UnitPartModel, public LoaderFlashView {
 public:
  int ListenRate() const override { return 115200; }
  void Hear(uint8_t) override {}
  std::vector<uint8_t> Flash() const override { return {}; }
};
}  // namespace

std::unique_ptr<UnitPartModel> MakeLoaderModel(UnitPart, UnitLine&) {
  return std::make_unique<SilentLoader>();
}

}  // namespace sim
