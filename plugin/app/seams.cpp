#include "plugin/app/seams.h"

#include "platform/console.h"

namespace app {

PluginSeams DefaultSeams() {
    PluginSeams s{};
    s.setupControllers = controls::SetupControllers;
    s.createAudioEngine = audio::CreateAudioEngine;
    s.selectAudioDeviceInteractive = audio::SelectAudioDeviceInteractive;
    s.selectAudioDevicePredefined = audio::SelectAudioDevicePredefined;
    s.shutdownAudioEngine = audio::ShutdownAudioEngine;
    s.openSerialPitBoard = links::OpenSerialPitBoard;
    s.closeSerialPitBoard = links::CloseSerialPitBoard;
    s.keyWaiting = platform::keyWaiting;
    s.updateAudioEngine = audio::UpdateAudioEngine;
    s.pollControls = controls::PollControls;
    s.refreshSessionSnapshot = analytics::RefreshSessionSnapshot;
    s.logSessionJoin = analytics::LogSessionJoin;
    s.driverCommands = engineer::DriverCommands;
    s.garageDriverCommands = engineer::GarageDriverCommands;
    s.pitRoadHandling = engineer::PitRoadHandling;
    s.onTrackCalls = engineer::OnTrackCalls;
    return s;
}

PluginSeams& Seams() {
    static PluginSeams seams = DefaultSeams();
    return seams;
}

void RestoreDefaultSeams() {
    Seams() = DefaultSeams();
}

}  // namespace app
