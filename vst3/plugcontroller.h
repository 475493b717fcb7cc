#pragma once
// The plug-in's edit controller and editor view. The controller reaches the processor's engine
// bridge through the handle block named in the "CaddisHandle" message, builds the parameters and
// units from the engine's descriptions, adds bypass and the MIDI-mapping parameters, answers
// program-list, note-expression and NKS queries and follows the edits of the engine's own editor.
// The editor view has the engine open its editor inside the host's NSView.

#include "abi/EngineABI.h"
#include "vst3/plugcontroller_nks.h"

#include <pluginterfaces/gui/iplugviewcontentscalesupport.h>
#include <pluginterfaces/vst/ivstmidicontrollers.h>
#include <pluginterfaces/vst/ivstnoteexpression.h>
#include <pluginterfaces/vst/ivstphysicalui.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <public.sdk/source/vst/vsteditcontroller.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class ParameterInfo;
class CaddisVST3Editor;

namespace vantor {
class TARNWrapper;
struct PlugHandle;
}  // namespace vantor

class PlugController : public Steinberg::Vst::EditController,
                       public Steinberg::Vst::IMidiMapping,
                       public nks::INKS1Plugin,
                       public nks::INKSMetadataPlugin,
                       public Steinberg::Vst::INoteExpressionController,
                       public Steinberg::Vst::INoteExpressionPhysicalUIMapping,
                       public Steinberg::Vst::IUnitInfo
{
public:
    // Parameter ids of our own.
    static constexpr Steinberg::Vst::ParamID kBypassId = 9000;
    static constexpr Steinberg::Vst::ParamID kControlChangeFirst = 10000;
    static constexpr Steinberg::Vst::ParamID kChannelPressureFirst = 12048;
    static constexpr Steinberg::Vst::ParamID kPitchBendFirst = 12064;
    static constexpr int32_t kProgramLists = 16, kProgramsPerList = 128;

    PlugController();
    ~PlugController() override;

    static Steinberg::FUnknown* createInstance(void* context);

    // Edit controller.
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API connect(Steinberg::Vst::IConnectionPoint* other) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API disconnect(Steinberg::Vst::IConnectionPoint* other) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) SMTG_OVERRIDE;
    Steinberg::int32 PLUGIN_API getParameterCount() SMTG_OVERRIDE;
    // The bypass parameter reads the value last received (setComponentState, setParamNormalized),
    // so a host that reads it back after loading a state sends what was saved.
    Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID id) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id,
                                                     Steinberg::Vst::ParamValue value) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream* stream) SMTG_OVERRIDE;
    Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) SMTG_OVERRIDE;

    // MIDI mapping.
    Steinberg::tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                              Steinberg::Vst::CtrlNumber controller,
                                                              Steinberg::Vst::ParamID& id) SMTG_OVERRIDE;

    // Units and program lists.
    Steinberg::int32 PLUGIN_API getUnitCount() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getUnitInfo(Steinberg::int32 unitIndex, Steinberg::Vst::UnitInfo& info) SMTG_OVERRIDE;
    Steinberg::int32 PLUGIN_API getProgramListCount() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getProgramListInfo(Steinberg::int32 listIndex,
                                                     Steinberg::Vst::ProgramListInfo& info) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId, Steinberg::int32 programIndex,
                                                 Steinberg::Vst::String128 name) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getProgramInfo(Steinberg::Vst::ProgramListID listId, Steinberg::int32 programIndex,
                                                 Steinberg::Vst::CString attributeId,
                                                 Steinberg::Vst::String128 attributeValue) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API hasProgramPitchNames(Steinberg::Vst::ProgramListID listId,
                                                       Steinberg::int32 programIndex) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getProgramPitchName(Steinberg::Vst::ProgramListID listId,
                                                      Steinberg::int32 programIndex, Steinberg::int16 midiPitch,
                                                      Steinberg::Vst::String128 name) SMTG_OVERRIDE;
    Steinberg::Vst::UnitID PLUGIN_API getSelectedUnit() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API selectUnit(Steinberg::Vst::UnitID unitId) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getUnitByBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                               Steinberg::int32 busIndex, Steinberg::int32 channel,
                                               Steinberg::Vst::UnitID& unitId) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setUnitProgramData(Steinberg::int32 listOrUnitId, Steinberg::int32 programIndex,
                                                     Steinberg::IBStream* data) SMTG_OVERRIDE;

    // Note expression, on event bus 0, channel 0 only.
    Steinberg::int32 PLUGIN_API getNoteExpressionCount(Steinberg::int32 busIndex, Steinberg::int16 channel) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getNoteExpressionInfo(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                        Steinberg::int32 noteExpressionIndex,
                                                        Steinberg::Vst::NoteExpressionTypeInfo& info) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getNoteExpressionStringByValue(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                                 Steinberg::Vst::NoteExpressionTypeID id,
                                                                 Steinberg::Vst::NoteExpressionValue valueNormalized,
                                                                 Steinberg::Vst::String128 string) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getNoteExpressionValueByString(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                                 Steinberg::Vst::NoteExpressionTypeID id,
                                                                 const Steinberg::Vst::TChar* string,
                                                                 Steinberg::Vst::NoteExpressionValue& valueNormalized)
        SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getPhysicalUIMapping(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                       Steinberg::Vst::PhysicalUIMapList& list) SMTG_OVERRIDE;

    // Host callback registered with the engine (flags 0xF0); null user gives 2.
    static int32_t TARN_CB(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3, float f, void* user);
    int32_t TARN_CB_INTERNAL(int32_t op, void* p1, void* p2, int32_t i1, int32_t i2, int32_t i3, float f);

    // Installs the callback once a wrapper is known; builds the parameters when asked.
    void doTheRealInit(bool buildNow);
    void buildParameters();
    // Titles and values again after the engine renamed its parameters; true when a value moved.
    bool updateParameterNames();
    // The "|"-separated items of a description's value list.
    static std::vector<std::string> listItems(const char* list);

    // NKS: host properties and messages, the parameter description, the key map.
    bool PLUGIN_API nksDispatch(Steinberg::int32 message, Steinberg::uint64 value, void* data, float opt) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getNksMetadata(Steinberg::IBStream* stream) SMTG_OVERRIDE;
    bool receiveNKSHostMessage(int32_t message, uint64_t value, void* data);
    bool nks_getVendorSpecificPropertyInfo(int32_t property, uint64_t& size, uint64_t& writable) const;
    bool nks_getVendorSpecificProperty(int32_t property, void* data) const;
    bool nks_setVendorSpecificProperty(int32_t property, const void* data, uint64_t size);
    // Sends id | 0x4B490000; true when the host accepted it.
    bool sendNKSHostMessage(int32_t id, void* data, uint64_t size);
    // Key names, colours and switch flags of every note to the NKS host; false without a host
    // or a key map.
    bool nks_keyMapChanged(int32_t);

    // The editor forgotten when it goes away.
    void editorDestroyed(Steinberg::Vst::EditorView* view) SMTG_OVERRIDE;
    // The handle's wrapper while its processor lives, else null.
    vantor::TARNWrapper* getWrapper() const;
    CaddisVST3Editor* getEditor() const { return editor; }
    int32_t getEditIndex() const { return editIndex; }

    const std::string& getHostName() const { return hostName; }
    bool usesPrefixTitles() const { return usePrefixTitles; }

    OBJ_METHODS(PlugController, EditController)
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    REFCOUNT_METHODS(EditController)

private:
    // The description built from the engine's parameters; what getNksMetadata writes.
    nks::metadata::v1::Metadata makeNksMetadata();
    // Title and unit of an engine parameter's label.
    std::pair<std::string, Steinberg::Vst::UnitID> titleAndUnit(const char* label, bool makeUnits);
    Steinberg::Vst::UnitID unitFor(const std::string& prefix, const std::string& unitName);
    void addEngineParameter(int32_t index, const ::ParameterInfo& info);
    void setEditIndex(int32_t index);
    void closeEdit(bool tellHost);

    vantor::PlugHandle* handle = nullptr;
    int32_t editIndex = -1;
    float lastEditValue = 0.0f;
    Steinberg::Vst::ParamValue bypassValue = 0.0;
    CaddisVST3Editor* editor = nullptr;
    std::string hostName;
    bool initDone = false;
    bool parametersBuilt = false;
    std::map<Steinberg::Vst::UnitID, Steinberg::Vst::UnitInfo> units;
    std::map<std::pair<std::string, std::string>, Steinberg::Vst::UnitID> unitKeys;
    std::map<int32_t, Steinberg::Vst::UnitID> parameterUnits;
    bool usePrefixTitles = true;
    bool unitAwareHost = true;
    nks::INKS1Host* nksHost = nullptr;
    vantor::Tarn::ExportKB exportKB{};
};

class CaddisVST3Editor : public Steinberg::Vst::EditorView, public Steinberg::IPlugViewContentScaleSupport
{
public:
    CaddisVST3Editor(Steinberg::Vst::EditController* controller, vantor::TARNWrapper* wrapper);
    ~CaddisVST3Editor() override;

    Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) SMTG_OVERRIDE;
    // Only an "NSView" with a parent reaches the engine.
    Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API removed() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API canResize() SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) SMTG_OVERRIDE;

    // The engine's editor changed its size.
    void XMLGUISizeChange(int32_t width, int32_t height);
    const Steinberg::ViewRect& getRect() const { return rect; }

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return EditorView::addRef(); }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return EditorView::release(); }

private:
    // The wrapper while the controller's processor lives.
    vantor::TARNWrapper* liveWrapper() const;

    Steinberg::IPlugFrame* frame = nullptr;
    vantor::TARNWrapper* wrapper = nullptr;
    Steinberg::ViewRect rect{0, 0, 0, 0};
};
