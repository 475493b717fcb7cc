#include "Vst3Host.h"

#include "HostDoubles.h"

#include "shims/engine/Engine.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/base/smartpointer.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace vst3host {

namespace {

using GetFactoryFunction = IPluginFactory* (*)();
using EntryFunction = bool (*)(void*);
using ExitFunction = bool (*)();

std::string hex(const TUID id)
{
    char text[33] = {};
    FUID::fromTUID(id).toString(text);
    return text;
}

// The host's application object with the name it gives.
class NamedHostApplication : public HostApplication
{
public:
    explicit NamedHostApplication(std::string name) : name(std::move(name)) {}
    tresult PLUGIN_API getName(String128 out) override
    {
        size_t n = 0;
        for (; n < name.size() && n < 127; ++n)
            out[n] = char16(uint8_t(name[n]));
        out[n] = 0;
        return kResultOk;
    }

private:
    std::string name;
};

// The opened module: entry on open, exit and close in reverse.
class Module
{
public:
    bool open(const std::string& path, std::ostream& out)
    {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            out << "cannot open " << path << ": " << (why ? why : "?") << "\n";
            return false;
        }
        auto entry = reinterpret_cast<EntryFunction>(dlsym(handle, "ModuleEntry"));
        exit = reinterpret_cast<ExitFunction>(dlsym(handle, "ModuleExit"));
        auto get = reinterpret_cast<GetFactoryFunction>(dlsym(handle, "GetPluginFactory"));
        if (!entry || !exit || !get) {
            out << "the module lacks ModuleEntry, ModuleExit or GetPluginFactory\n";
            return false;
        }
        if (!entry(handle)) {
            out << "ModuleEntry failed\n";
            return false;
        }
        entered = true;
        factory = get();
        if (!factory) {
            out << "GetPluginFactory gave no factory\n";
            return false;
        }
        return true;
    }
    ~Module()
    {
        if (factory)
            factory->release();
        if (entered)
            exit();
        if (handle)
            dlclose(handle);
    }
    IPluginFactory* factory = nullptr;

private:
    void* handle = nullptr;
    ExitFunction exit = nullptr;
    bool entered = false;
};

void listClasses(IPluginFactory* factory, std::ostream& out)
{
    PFactoryInfo info;
    if (factory->getFactoryInfo(&info) == kResultOk)
        out << "vendor: " << info.vendor << "  url: " << info.url << "  e-mail: " << info.email << "  flags: 0x"
            << std::hex << info.flags << std::dec << "\n";
    FUnknownPtr<IPluginFactory2> factory2(factory);
    const int32 count = factory->countClasses();
    for (int32 i = 0; i < count; ++i) {
        PClassInfo2 c;
        if (factory2 && factory2->getClassInfo2(i, &c) == kResultOk) {
            out << "class " << i << ": " << c.category << " | " << c.name << " | " << hex(c.cid) << " | flags "
                << c.classFlags << " | " << c.subCategories << " | " << c.vendor << " | " << c.version << " | "
                << c.sdkVersion << "\n";
            continue;
        }
        PClassInfo plain;
        if (factory->getClassInfo(i, &plain) == kResultOk)
            out << "class " << i << ": " << plain.category << " | " << plain.name << " | " << hex(plain.cid) << "\n";
    }
}

bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == 0 && std::isfinite(value);
}

// Processor, controller and their connection, torn down in reverse.
struct Plugin
{
    IPtr<IComponent> component;
    IPtr<IAudioProcessor> processor;
    IPtr<IEditController> controller;
    IPtr<IConnectionPoint> componentPoint, controllerPoint;
    bool componentReady = false, controllerReady = false, connected = false, handlerSet = false;

    ~Plugin()
    {
        if (connected) {
            componentPoint->disconnect(controllerPoint);
            controllerPoint->disconnect(componentPoint);
        }
        if (handlerSet)
            controller->setComponentHandler(nullptr);
        if (controllerReady)
            controller->terminate();
        controller = nullptr;
        if (componentReady)
            component->terminate();
        processor = nullptr;
        component = nullptr;
    }
};

}  // namespace

std::string moduleFile(const std::string& bundle)
{
    std::string folder = bundle;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string suffix = ".vst3";
    if (folder.size() <= suffix.size() || folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) != 0)
        return bundle;  // the module file itself
    const size_t slash = folder.rfind('/');
    const std::string base = folder.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string name = base.substr(0, base.size() - suffix.size());
    return folder + "/Contents/x86_64-linux/" + name + ".so";
}

bool parseArguments(int argc, const char* const* argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](double& v, double lo, double hi) {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], v) || v < lo || v > hi) {
                error = "bad or missing value for " + arg;
                return false;
            }
            ++i;
            return true;
        };
        double v = 0.0;
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            return true;
        } else if (arg == "--list") {
            o.list = true;
        } else if (arg == "--host-name") {
            if (i + 1 >= argc) {
                error = "missing value for --host-name";
                return false;
            }
            o.hostName = argv[++i];
        } else if (arg == "--rate") {
            if (!value(v, 8000.0, 384000.0))
                return false;
            o.rate = v;
        } else if (arg == "--block") {
            if (!value(v, 1.0, 8192.0))
                return false;
            o.block = int32_t(v);
        } else if (arg == "--note") {
            if (!value(v, 0.0, 127.0))
                return false;
            o.note = int32_t(v);
        } else if (arg == "--seconds") {
            if (!value(v, 0.0, 600.0))
                return false;
            o.seconds = v;
        } else if (arg == "-o") {
            if (i + 1 >= argc) {
                error = "missing value for -o";
                return false;
            }
            o.output = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (o.bundle.empty()) {
            o.bundle = arg;
        } else {
            error = "more than one bundle";
            return false;
        }
    }
    if (o.bundle.empty()) {
        error = "no bundle";
        return false;
    }
    return true;
}

int run(const Options& o, std::ostream& out)
{
    Module module;
    if (!module.open(moduleFile(o.bundle), out))
        return 1;
    if (o.list) {
        listClasses(module.factory, out);
        return 0;
    }

    // The first audio module class.
    TUID processorId = {};
    bool found = false;
    for (int32 i = 0; i < module.factory->countClasses() && !found; ++i) {
        PClassInfo c;
        if (module.factory->getClassInfo(i, &c) == kResultOk && std::strcmp(c.category, kVstAudioEffectClass) == 0) {
            std::memcpy(processorId, c.cid, sizeof(TUID));
            found = true;
        }
    }
    if (!found) {
        out << "no audio module class\n";
        return 1;
    }

    NamedHostApplication host(o.hostName);
    HandlerRecorder handler;
    int result = 0;
    {
        Plugin p;
        void* obj = nullptr;
        if (module.factory->createInstance(processorId, IComponent::iid, &obj) != kResultOk || !obj) {
            out << "cannot create the processor\n";
            return 1;
        }
        p.component = owned(static_cast<IComponent*>(obj));
        if (p.component->initialize(&host) != kResultOk) {
            out << "the processor's initialize failed\n";
            return 1;
        }
        p.componentReady = true;
        p.processor = FUnknownPtr<IAudioProcessor>(p.component);
        if (!p.processor) {
            out << "the processor has no audio interface\n";
            return 1;
        }

        TUID controllerId = {};
        if (p.component->getControllerClassId(controllerId) == kResultOk &&
            module.factory->createInstance(controllerId, IEditController::iid, &obj) == kResultOk && obj) {
            p.controller = owned(static_cast<IEditController*>(obj));
            if (p.controller->initialize(&host) == kResultOk) {
                p.controllerReady = true;
                p.componentPoint = FUnknownPtr<IConnectionPoint>(p.component);
                p.controllerPoint = FUnknownPtr<IConnectionPoint>(p.controller);
                if (p.componentPoint && p.controllerPoint) {
                    p.componentPoint->connect(p.controllerPoint);
                    p.controllerPoint->connect(p.componentPoint);
                    p.connected = true;
                }
                p.handlerSet = p.controller->setComponentHandler(&handler) == kResultOk;
                out << "controller: " << p.controller->getParameterCount() << " parameters\n";
            } else {
                out << "the controller's initialize failed\n";
                p.controller = nullptr;
            }
        } else {
            out << "no controller\n";
        }

        // Buses as the processor declares them.
        const int32 ins = p.component->getBusCount(kAudio, kInput), outs = p.component->getBusCount(kAudio, kOutput);
        if (outs < 1) {
            out << "no audio output bus\n";
            return 1;
        }
        std::vector<SpeakerArrangement> inArr(size_t(ins), SpeakerArr::kStereo), outArr(size_t(outs), SpeakerArr::kStereo);
        if (p.processor->setBusArrangements(inArr.data(), ins, outArr.data(), outs) != kResultOk)
            out << "setBusArrangements refused " << ins << " in, " << outs << " out; the buses stay as declared\n";
        SpeakerArrangement outArrangement = SpeakerArr::kStereo;
        p.processor->getBusArrangement(kOutput, 0, outArrangement);
        const int32 channels = std::max(1, SpeakerArr::getChannelCount(outArrangement));

        ProcessSetup setup{kRealtime, kSample32, o.block, o.rate};
        if (p.processor->setupProcessing(setup) != kResultOk) {
            out << "setupProcessing failed\n";
            return 1;
        }
        for (int32 i = 0; i < outs; ++i)
            p.component->activateBus(kAudio, kOutput, i, true);
        if (p.component->getBusCount(kEvent, kInput) > 0)
            p.component->activateBus(kEvent, kInput, 0, true);
        if (p.component->setActive(true) != kResultOk) {
            out << "setActive failed\n";
            return 1;
        }
        p.processor->setProcessing(true);

        // The note for the whole length.
        const auto total = uint64_t(std::llround(o.seconds * o.rate));
        std::vector<std::vector<float>> audio(size_t(channels), std::vector<float>(total, 0.0f));
        std::vector<std::vector<float>> scratch(size_t(channels), std::vector<float>(size_t(o.block), 0.0f));
        std::vector<float*> pointers(static_cast<size_t>(channels), nullptr);
        ParamChanges changes, outChanges;
        EventList events, outEvents;
        ProcessContext context{};
        context.sampleRate = o.rate;
        context.tempo = 120.0;
        context.timeSigNumerator = context.timeSigDenominator = 4;
        context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kTimeSigValid;
        uint64_t done = 0;
        bool failed = false;
        while (done < total) {
            const auto frames = int32(std::min<uint64_t>(uint64_t(o.block), total - done));
            events.clear();
            if (done == 0) {
                Event on{};
                on.type = Event::kNoteOnEvent;
                on.noteOn.pitch = int16(o.note);
                on.noteOn.velocity = 1.0f;
                on.noteOn.noteId = 1;
                events.addEvent(on);
            }
            for (int32 c = 0; c < channels; ++c)
                pointers[size_t(c)] = scratch[size_t(c)].data();
            AudioBusBuffers bus{};
            bus.numChannels = channels;
            bus.channelBuffers32 = pointers.data();
            context.projectTimeSamples = int64(done);
            ProcessData data;
            data.processMode = kRealtime;
            data.symbolicSampleSize = kSample32;
            data.numSamples = frames;
            data.numInputs = 0;
            data.numOutputs = 1;
            data.outputs = &bus;
            data.inputParameterChanges = &changes;
            data.outputParameterChanges = &outChanges;
            data.inputEvents = &events;
            data.outputEvents = &outEvents;
            data.processContext = &context;
            if (p.processor->process(data) != kResultOk && !failed) {
                out << "process failed at frame " << done << "\n";
                failed = true;
            }
            for (int32 c = 0; c < channels; ++c)
                std::copy_n(scratch[size_t(c)].begin(), frames, audio[size_t(c)].begin() + int64(done));
            done += uint64_t(frames);
        }
        p.processor->setProcessing(false);
        p.component->setActive(false);
        float peak = 0.0f;
        for (const auto& ch : audio)
            for (float s : ch)
                peak = std::max(peak, std::fabs(s));
        out << "rendered " << total << " frames in blocks of " << o.block << " at " << o.rate << " Hz, peak " << peak
            << "\n";
        if (failed)
            result = 1;

        if (!o.output.empty()) {
            vantor::engine::WavSink wav(o.output, uint32_t(o.rate));
            const float* right = audio[size_t(std::min(channels, 2) - 1)].data();
            if (!wav.isOpen() || !wav.write(audio[0].data(), right, total) || !wav.finish()) {
                out << "cannot write " << o.output << "\n";
                result = 1;
            } else {
                out << "wrote " << o.output << "\n";
            }
        }

        // State out and back in, to the controller too.
        IPtr<MemoryStream> state = owned(new MemoryStream);
        if (p.component->getState(state) == kResultOk) {
            out << "state: " << state->getSize() << " bytes\n";
            state->seek(0, IBStream::kIBSeekSet, nullptr);
            if (p.component->setState(state) != kResultOk) {
                out << "setState failed\n";
                result = 1;
            }
            if (p.controller) {
                state->seek(0, IBStream::kIBSeekSet, nullptr);
                p.controller->setComponentState(state);
            }
        } else {
            out << "getState failed\n";
            result = 1;
        }

        // The editor view, without a window to put it in.
        if (p.controller) {
            if (IPtr<IPlugView> view = owned(p.controller->createView(ViewType::kEditor))) {
                PlugFrame frame;
                view->setFrame(&frame);
                ViewRect size;
                view->getSize(&size);
                out << "editor: X11EmbedWindowID "
                    << (view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) == kResultTrue ? "supported"
                                                                                                  : "not supported")
                    << ", NSView "
                    << (view->isPlatformTypeSupported(kPlatformTypeNSView) == kResultTrue ? "supported"
                                                                                         : "not supported")
                    << ", size " << size.getWidth() << " x " << size.getHeight() << "\n";
                view->setFrame(nullptr);
            } else {
                out << "editor: none\n";
            }
        }
        out << "controller calls: " << handler.calls.size() << "\n";
    }
    return result;
}

}  // namespace vst3host
