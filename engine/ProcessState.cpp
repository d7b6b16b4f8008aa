#include "engine/ProcessState.h"

namespace engine {
namespace {

struct ProcessState {
  ConversionSettings settings;
  RunFlags flags;
  ConverterOptions options;
  PhotoOptions photo;
  EngineState engine;
  JobState job;
  InformationState information;
};

ProcessState& State() {
  static ProcessState state;
  return state;
}

}  // namespace

ConversionSettings& Settings() { return State().settings; }
RunFlags& Flags() { return State().flags; }
ConverterOptions& Options() { return State().options; }
PhotoOptions& Photo() { return State().photo; }
EngineState& Engine() { return State().engine; }
JobState& Job() { return State().job; }
InformationState& Information() { return State().information; }

void ResetProcessState() { State() = ProcessState{}; }

}  // namespace engine
