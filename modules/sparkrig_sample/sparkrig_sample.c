/* Sample effect module: the effect types of a typical action game, described for the effect
 * packer. Built against pyrixmodule.h alone; the tables are static and never change, so
 * PyrixGetInfo hands out the same info every time and PyrixReleaseInfo has nothing to free. */
#include "pyrixmodule.h"
#include "zqexport.h"

#define COUNT_OF(a) ((uint32_t)(sizeof(a) / sizeof((a)[0])))

/* One description: name, params, type, curve flags, then the default value's initialiser. */
/* clang-format off */
#define PROP(name, params, type, flags, ...) {name, params, type, flags, {0, 0}, {__VA_ARGS__}}
#define TYPE(name, id, props) {name, id, COUNT_OF(props), props}
/* clang-format on */
#define PLAIN 0, 0
#define CURVE 1, 0
#define CURVE_END 1, 1

#define BLEND_MODES "Additive,AlphaBlend,Opaque"

/* Sprite: a camera-facing textured quad, optionally a flip-book animation. */
static EffectPropDesc s_SpriteProps[] = {
    PROP("Texture", "", ePT_Filename, PLAIN, .szValue = "textures/spark.tga"),
    PROP("BlendMode", BLEND_MODES, ePT_Enum, PLAIN, .szValue = "Additive"),
    PROP("Color", "", ePT_Color, CURVE_END, .nColor = 0xFFFFFFFFu),
    PROP("Size", "0;", ePT_Float, CURVE_END, .fValue = 1.0f),
    PROP("Rotation", "-360;360", ePT_Float, CURVE, .fValue = 0.0f),
    PROP("Offset", "-100;100", ePT_Vector, PLAIN, .vValue = {0.0f, 0.0f, 0.0f}),
    PROP("FrameCount", "1;64", ePT_Int, PLAIN, .nValue = 1),
    PROP("FrameRate", "0;120", ePT_Float, PLAIN, .fValue = 15.0f),
};

/* ParticleEmitter: sprites emitted continuously or in one burst, falling under gravity. */
static EffectPropDesc s_EmitterProps[] = {
    PROP("Texture", "", ePT_Filename, PLAIN, .szValue = "textures/smoke.tga"),
    PROP("BlendMode", BLEND_MODES, ePT_Enum, PLAIN, .szValue = "AlphaBlend"),
    PROP("EmitMode", "Continuous,Burst", ePT_Enum, PLAIN, .szValue = "Continuous"),
    PROP("EmitRate", "0;", ePT_Float, CURVE, .fValue = 20.0f),
    PROP("BurstCount", "1;1000", ePT_Int, PLAIN, .nValue = 10),
    PROP("MaxParticles", "1;4096", ePT_Int, PLAIN, .nValue = 256),
    PROP("ParticleLife", "0.01;", ePT_Float, PLAIN, .fValue = 1.5f),
    PROP("StartSpeed", "0;", ePT_Float, CURVE, .fValue = 2.0f),
    PROP("Spread", "0;180", ePT_Float, PLAIN, .fValue = 30.0f),
    PROP("Gravity", "", ePT_Vector, PLAIN, .vValue = {0.0f, -9.81f, 0.0f}),
    PROP("ParticleColor", "", ePT_Color, CURVE_END, .nColor = 0xFFFFFFFFu),
    PROP("ParticleSize", "0;", ePT_Float, CURVE_END, .fValue = 0.5f),
};

/* Light: a dynamic point or spot light. */
static EffectPropDesc s_LightProps[] = {
    PROP("LightType", "Point,Spot", ePT_Enum, PLAIN, .szValue = "Point"),
    PROP("Color", "", ePT_Color, CURVE_END, .nColor = 0xFFFFC080u),
    PROP("Intensity", "0;", ePT_Float, CURVE_END, .fValue = 1.0f),
    PROP("Radius", "0;1000", ePT_Float, CURVE, .fValue = 5.0f),
    PROP("ConeAngle", "1;179", ePT_Float, PLAIN, .fValue = 45.0f),
    PROP("Offset", "-100;100", ePT_Vector, PLAIN, .vValue = {0.0f, 0.5f, 0.0f}),
    PROP("CastShadows", "No,Yes", ePT_Enum, PLAIN, .szValue = "No"),
};

/* Sound: a positional sound; volume in decibels (0 is full volume). */
static EffectPropDesc s_SoundProps[] = {
    PROP("SoundFile", "", ePT_Filename, PLAIN, .szValue = "sounds/explosion.wav"),
    PROP("Volume", ";0", ePT_Float, CURVE, .fValue = 0.0f),
    PROP("Pitch", "0.5;2", ePT_Float, CURVE, .fValue = 1.0f),
    PROP("MinDistance", "0;", ePT_Float, PLAIN, .fValue = 1.0f),
    PROP("MaxDistance", "0;", ePT_Float, PLAIN, .fValue = 50.0f),
    PROP("Priority", ";100", ePT_Int, PLAIN, .nValue = 50),
    PROP("Bus", "Effects,Ambience,Interface", ePT_Enum, PLAIN, .szValue = "Effects"),
    PROP("Loop", "No,Yes", ePT_Enum, PLAIN, .szValue = "No"),
};

/* CameraShake: shakes the camera of players within the radius. */
static EffectPropDesc s_CameraShakeProps[] = {
    PROP("Amplitude", "0;", ePT_Float, CURVE_END, .fValue = 0.25f),
    PROP("Frequency", "0.1;60", ePT_Float, PLAIN, .fValue = 12.0f),
    PROP("Axes", "0;1", ePT_Vector, PLAIN, .vValue = {1.0f, 1.0f, 0.0f}),
    PROP("Radius", "0;", ePT_Float, PLAIN, .fValue = 20.0f),
    PROP("Falloff", "None,Linear,Quadratic", ePT_Enum, PLAIN, .szValue = "Linear"),
};

/* Decal: a texture projected onto the surface below the effect. */
static EffectPropDesc s_DecalProps[] = {
    PROP("Texture", "", ePT_Filename, PLAIN, .szValue = "textures/scorch.tga"),
    PROP("BlendMode", "AlphaBlend,Multiply,Additive", ePT_Enum, PLAIN, .szValue = "AlphaBlend"),
    PROP("Size", "0.01;", ePT_Vector, PLAIN, .vValue = {1.0f, 1.0f, 0.5f}),
    PROP("Color", "", ePT_Color, CURVE_END, .nColor = 0xFF202020u),
    PROP("Rotation", "-180;180", ePT_Float, PLAIN, .fValue = 0.0f),
    PROP("RandomRotation", "Off,On", ePT_Enum, PLAIN, .szValue = "On"),
};

/* Trail: a ribbon following a bone of the owner. */
static EffectPropDesc s_TrailProps[] = {
    PROP("Texture", "", ePT_Filename, PLAIN, .szValue = "textures/trail.tga"),
    PROP("BlendMode", BLEND_MODES, ePT_Enum, PLAIN, .szValue = "Additive"),
    PROP("AttachBone", "", ePT_String, PLAIN, .szValue = "weapon_tip"),
    PROP("Width", "0;", ePT_Float, CURVE_END, .fValue = 0.2f),
    PROP("Color", "", ePT_Color, CURVE_END, .nColor = 0xFFFFE0A0u),
    PROP("SegmentLength", "0.01;", ePT_Float, PLAIN, .fValue = 0.1f),
    PROP("MaxSegments", "2;256", ePT_Int, PLAIN, .nValue = 32),
};

/* Model: a mesh attached to a bone of the owner, optionally animated. */
static EffectPropDesc s_ModelProps[] = {
    PROP("ModelFile", "", ePT_Filename, PLAIN, .szValue = "models/shard.mdl"),
    PROP("Animation", "", ePT_Animation, PLAIN, .szValue = "idle"),
    PROP("AnimSpeed", "0;10", ePT_Float, CURVE, .fValue = 1.0f),
    PROP("AttachBone", "", ePT_String, PLAIN, .szValue = "root"),
    PROP("Scale", "0;", ePT_Vector, CURVE_END, .vValue = {1.0f, 1.0f, 1.0f}),
    PROP("Rotation", "-360;360", ePT_Vector, PLAIN, .vValue = {0.0f, 0.0f, 0.0f}),
    PROP("Tint", "", ePT_Color, CURVE, .nColor = 0xFFFFFFFFu),
};

/* SubEffect: starts another effect. */
static EffectPropDesc s_SubEffectProps[] = {
    PROP("Effect", "", ePT_SparkrigRef, PLAIN, .szValue = "sparks_small"),
    PROP("Offset", "-100;100", ePT_Vector, PLAIN, .vValue = {0.0f, 0.0f, 0.0f}),
    PROP("Follow", "None,Position,PositionRotation", ePT_Enum, PLAIN, .szValue = "Position"),
    PROP("TimeScale", "0.1;10", ePT_Float, PLAIN, .fValue = 1.0f),
};

/* Marker: a named event for game code, plus editor-only entries that carry no value. */
static EffectPropDesc s_MarkerProps[] = {
    PROP("Label", "", ePT_String, PLAIN, .szValue = "marker"),
    PROP("Event", "", ePT_String, PLAIN, .szValue = ""),
    PROP("Comment", "", ePT_NoValue, PLAIN, .aBytes = {0}),
    PROP("Reserved", "", ePT_None, PLAIN, .aBytes = {0}),
};

static EffectTypeDesc s_Types[] = {
    TYPE("Sprite", 0, s_SpriteProps),
    TYPE("ParticleEmitter", 1, s_EmitterProps),
    TYPE("Light", 2, s_LightProps),
    TYPE("Sound", 3, s_SoundProps),
    TYPE("CameraShake", 4, s_CameraShakeProps),
    TYPE("Decal", 5, s_DecalProps),
    TYPE("Trail", 6, s_TrailProps),
    TYPE("Model", 7, s_ModelProps),
    TYPE("SubEffect", 8, s_SubEffectProps),
    TYPE("Marker", 9, s_MarkerProps),
};

static EffectModuleInfo s_Info = {0x00010000u, COUNT_OF(s_Types), s_Types};

PYRIX_EXTERN_C ZQ_EXPORT int PyrixGetInfo(EffectModuleInfo** ppInfo)
{
    if (!ppInfo)
        return 0;
    *ppInfo = &s_Info;
    return 1;
}

PYRIX_EXTERN_C ZQ_EXPORT void PyrixReleaseInfo(EffectModuleInfo* pInfo)
{
    (void)pInfo;
}
