// vstrun: a command-line VST 2 host.
//   vstrun info MODULE   what a host sees in a freshly created instance
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "vsthost/Host.h"
#include "vsthost/Module.h"

namespace {

int runInfo(const std::string& path) {
  std::string error;
  auto module = vsthost::Module::load(path, &error);
  if (!module) {
    std::fprintf(stderr, "vstrun: %s\n", error.c_str());
    return 1;
  }
  AEffect* effect = module->instantiate(vsthost::minimalHostCallback);
  if (!effect) {
    std::fprintf(stderr, "vstrun: %s: %s returned no instance\n", path.c_str(), module->entryName());
    return 2;
  }
  if (effect->magic != kEffectMagic) {
    std::fprintf(stderr, "vstrun: %s: the record's magic is %s, not VstP\n", path.c_str(),
                 vsthost::fourCharText(effect->magic).c_str());
    return 2;
  }
  vsthost::dispatch(effect, effOpen);
  const vsthost::EffectInfo info = vsthost::queryInfo(effect);
  vsthost::dispatch(effect, effClose);

  std::printf("module          %s\n", path.c_str());
  std::printf("entry           %s\n", module->entryName());
  std::printf("name            %s\n", info.effectName.c_str());
  std::printf("vendor          %s\n", info.vendor.c_str());
  std::printf("product         %s\n", info.product.c_str());
  std::printf("vendor version  %lld\n", static_cast<long long>(info.vendorVersion));
  std::printf("unique id       %s\n", vsthost::fourCharText(info.uniqueID).c_str());
  std::printf("version         %d\n", static_cast<int>(info.version));
  std::printf("inputs          %d\n", static_cast<int>(info.numInputs));
  std::printf("outputs         %d\n", static_cast<int>(info.numOutputs));
  std::printf("parameters      %d\n", static_cast<int>(info.numParams));
  std::printf("programs        %d\n", static_cast<int>(info.numPrograms));
  std::printf("flags           %d (%s)\n", static_cast<int>(info.flags), vsthost::flagNames(info.flags).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vstrun: a command-line VST 2 host"};
  app.require_subcommand(1);

  std::string infoModule;
  CLI::App* info = app.add_subcommand("info", "Print what a host sees in a new instance of MODULE");
  info->add_option("MODULE", infoModule, "Plug-in module (.dll or .so)")->required();

  CLI11_PARSE(app, argc, argv);

  if (info->parsed()) return runInfo(infoModule);
  return 0;
}
