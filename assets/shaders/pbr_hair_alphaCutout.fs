#version 410 core
// Strand shading for alpha-cut hair ribbons.
//
// Three lobes after the usual fibre model: R (surface reflection, white),
// TT (transmission, tinted, seen with the light behind the hair) and TRT
// (internal reflection, tinted, the secondary highlight). Each lobe is a
// longitudinal Gaussian in the half angle theta_h, shifted by the lobe's cone
// angle (degrees; cuticle tilt) and as wide as its width (radians), times an
// azimuthal term and the lobe's peak strength. A Kajiya-style diffuse term,
// a soft in-volume scatter, a back-scatter glow towards the light and a
// sky/ground ambient complete it. The maps add per-strand detail: alpha
// (cut at _Cutoff), colour, round-strand normals, occlusion, brightness and
// a random value per strand that shifts highlights and colour.
in vec3 v_worldPos;
in vec3 v_normal;
in vec3 v_side;
in vec3 v_tangent;
in vec2 v_uv;
in float v_light;

uniform vec4 m_color = vec4(1.0);
uniform vec3 m_viewPos = vec3(0.0);
uniform vec3 m_lightPos0 = vec3(0.0, 1.0, 0.0);   // direction towards the light
uniform vec3 m_lightColor0 = vec3(1.0);
uniform mat4 m_lightSpaceMatrix0 = mat4(1.0);

uniform sampler2D _Alpha_Map0;
uniform int is_Alpha_Map0 = 0;
uniform sampler2D _Diffuse_Map0;
uniform int is_Diffuse_Map0 = 0;
uniform sampler2D _Normal_Map0;
uniform int is_Normal_Map0 = 0;
uniform sampler2D _AO_Map0;
uniform int is_AO_Map0 = 0;
uniform sampler2D _Brightness_Map0;
uniform int is_Brightness_Map0 = 0;
uniform sampler2D _Random_Map0;
uniform int is_Random_Map0 = 0;
uniform sampler2D _Shadow_Map0;
uniform int is_Shadow_Map0 = 0;

uniform float _Cutoff = 0.55;
uniform float _Bumpiness = 1.0;
uniform float _AO_Scale = 1.0;
uniform float _Brightness = 1.0;
uniform float _Randomness = 2.0;
uniform float _Ka = 0.8;
uniform float _Kd = 0.8;
uniform float _R_Width = 0.215;
uniform float _R_Peak = 0.06;
uniform float _R_Cone_Angle = -1.0;
uniform float _TT_Width = 0.217;
uniform float _TT_Peak = 0.4;
uniform float _TT_Cone_Angle = 2.5;
uniform float _TT_Sharpness = 4.0;
uniform float _TRT_Width = 0.25;
uniform float _TRT_Peak = 0.5;
uniform float _TRT_Cone_Angle = 5.0;
uniform float _Scatter_Amount = 1.0;
uniform float _Back_Scatter_Amount = 100.0;
uniform float _Back_Scatter_Power = 15.0;

out vec4 fragColor;

const float kPi = 3.14159265;
// Degrees of highlight shift per unit of _Randomness for a strand at either
// end of the random map's range.
const float kRandomShiftDegrees = 1.5;

// Fraction of the key light that reaches a point. The filter spans a fixed 4 mm (4 x 4 taps, at
// least a texel apart) rather than a few texels: the map resolves single strands, and a filter
// narrower than an eye pixel turns a stroke's shadow into a dotted line of strand shadows. Biases
// are worked out from the light-space matrix, so they stay right for any light projection.
float shadowVisibility(vec3 worldPos, vec3 n, vec3 l)
{
    if (is_Shadow_Map0 == 0)
        return 1.0;
    mat4 m = m_lightSpaceMatrix0;
    vec2 size = vec2(textureSize(_Shadow_Map0, 0));
    float texPerMetre = 0.5 * length(vec3(m[0][0], m[1][0], m[2][0])) * size.x;
    float depthPerMetre = 0.5 * length(vec3(m[0][2], m[1][2], m[2][2]));
    float metresPerTexel = 1.0 / max(texPerMetre, 1e-6);
    float cosL = clamp(dot(n, l), 0.0, 1.0);
    vec3 p = worldPos + n * metresPerTexel * (1.0 + 2.0 * (1.0 - cosL));
    vec4 clip = m * vec4(p, 1.0);
    vec3 c = clip.xyz / clip.w * 0.5 + 0.5;
    if (c.z >= 1.0)
        return 1.0;
    float bias = depthPerMetre * max(2.0 * metresPerTexel, 0.0005);
    vec2 step = vec2(max(0.00133 * texPerMetre, 1.0)) / size;
    float lit = 0.0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            lit += c.z - bias > texture(_Shadow_Map0, c.xy + (vec2(x, y) - 1.5) * step).r ? 0.0 : 1.0;
    return lit / 16.0;
}

// Longitudinal lobe: a Gaussian of peak 1 around the shifted half angle.
float lobe(float thetaH, float shiftRadians, float width)
{
    float w = max(width, 1e-3);
    float d = thetaH - shiftRadians;
    return exp(-0.5 * d * d / (w * w));
}

void main()
{
    float coverage = is_Alpha_Map0 != 0 ? texture(_Alpha_Map0, v_uv).r : 1.0;
    if (coverage < _Cutoff)
        discard;

    vec3 albedo = m_color.rgb;
    if (is_Diffuse_Map0 != 0)
        albedo *= texture(_Diffuse_Map0, v_uv).rgb;
    float rnd = is_Random_Map0 != 0 ? texture(_Random_Map0, v_uv).r : 0.5;
    float ao = is_AO_Map0 != 0 ? pow(texture(_AO_Map0, v_uv).r, max(_AO_Scale, 0.0)) : 1.0;
    // The brightness map varies strands around their colour instead of darkening the card.
    float bright = _Brightness * (is_Brightness_Map0 != 0 ? 0.55 + 0.5 * texture(_Brightness_Map0, v_uv).r : 1.0);
    // Each strand a shade lighter or darker than its neighbours.
    albedo *= clamp(1.0 + (rnd - 0.5) * 0.12 * _Randomness, 0.0, 2.0);

    // Frame of the ribbon; a strand without normals leaves a degenerate frame,
    // then the strand direction is taken from how v changes on screen.
    vec3 n = v_normal;
    vec3 t = v_tangent;
    if (dot(t, t) < 1e-12 || dot(n, n) < 1e-12) {
        vec3 dpdx = dFdx(v_worldPos), dpdy = dFdy(v_worldPos);
        vec2 dvdxy = vec2(dFdx(v_uv.y), dFdy(v_uv.y));
        t = dpdx * dvdxy.x + dpdy * dvdxy.y;
        n = cross(dpdx, dpdy);
    }
    n = normalize(n);
    t = normalize(t - n * dot(t, n) + 1e-9);
    vec3 b = cross(n, t);   // across the ribbon, along u

    vec3 toView = m_viewPos - v_worldPos;
    vec3 v = dot(toView, toView) > 1e-12 ? normalize(toView) : n;
    // Ribbons are seen from both sides.
    if (dot(n, v) < 0.0) {
        n = -n;
        b = -b;
    }

    // Round strands from the normal map; the strand direction is tilted with it.
    if (is_Normal_Map0 != 0) {
        vec3 m = texture(_Normal_Map0, v_uv).xyz * 2.0 - 1.0;
        m.xy *= _Bumpiness;
        vec3 bent = normalize(b * m.x + t * m.y + n * max(m.z, 0.05));
        t = normalize(t - bent * dot(t, bent));
        n = bent;
    }

    vec3 l = normalize(m_lightPos0);
    float sinI = clamp(dot(l, t), -1.0, 1.0);
    float sinR = clamp(dot(v, t), -1.0, 1.0);
    float thetaI = asin(sinI);
    float thetaR = asin(sinR);
    float thetaH = 0.5 * (thetaI + thetaR);
    float cosD = cos(0.5 * (thetaR - thetaI));
    float cosI = sqrt(max(1.0 - sinI * sinI, 0.0));

    // Azimuth between light and view around the strand.
    vec3 lp = l - t * sinI;
    vec3 vp = v - t * sinR;
    float cosPhi = dot(lp, vp) * inversesqrt(max(dot(lp, lp) * dot(vp, vp), 1e-8));
    float cosHalfPhi = sqrt(clamp(0.5 + 0.5 * cosPhi, 0.0, 1.0));

    float shift = radians((rnd - 0.5) * 2.0 * kRandomShiftDegrees * _Randomness);
    float mR = lobe(thetaH, radians(_R_Cone_Angle) + shift, _R_Width);
    float mTT = lobe(thetaH, radians(_TT_Cone_Angle) + shift, _TT_Width);
    float mTRT = lobe(thetaH, radians(_TRT_Cone_Angle) + shift, _TRT_Width);

    float nR = cosHalfPhi;
    float nTT = exp(-max(_TT_Sharpness, 0.0) * (1.0 + cosPhi));
    float nTRT = 0.6 * cosHalfPhi + 0.4;

    // Light leaving a fibre grows as the path turns grazing; bounded so that
    // silhouettes do not flare.
    float grazing = 1.0 / max(cosD * cosD, 0.35);
    vec3 spec = (vec3(_R_Peak * mR * nR)
               + albedo * (_TT_Peak * mTT * nTT)
               + albedo * albedo * (_TRT_Peak * mTRT * nTRT)) * grazing * cosI;

    // Strand diffuse: Kajiya's sine term lights strands across the light; light that the
    // neighbouring strands scatter wraps round the fibre, so a strand hanging along an overhead
    // light still shows its colour. Softened by the ribbon's facing, so that a card turned away
    // from the light is darker than one facing it.
    float facing = clamp((dot(n, l) + 0.5) / 1.5, 0.0, 1.0);
    vec3 diffuse = albedo * (_Kd * mix(0.45, 1.0, cosI) * mix(0.5, 1.0, facing));

    // Light scattered inside the hair volume: twice tinted, reaches strands
    // turned away from the light.
    vec3 scatter = albedo * albedo * (_Scatter_Amount * 0.25 * (0.5 + 0.5 * dot(n, l)));
    // Glow of hair seen against the light (_Back_Scatter_Amount in percent).
    float against = max(dot(-l, v), 0.0);
    vec3 backScatter = albedo * (_Back_Scatter_Amount * 0.01 * pow(against, max(_Back_Scatter_Power, 1.0)));

    vec3 lightNormal = dot(v_normal, l) >= 0.0 ? normalize(v_normal) : -normalize(v_normal);
    float visible = shadowVisibility(v_worldPos, lightNormal, l);
    float partly = mix(0.4, 1.0, visible);

    // Sky above, ground below: strong enough that hair in the head's shadow keeps its colour.
    vec3 ambient = albedo * (_Ka * mix(0.45, 0.7, 0.5 + 0.5 * n.y));
    vec3 direct = m_lightColor0 * ((diffuse + spec) * visible * sqrt(ao) + (scatter + backScatter) * partly * ao);
    // The light curve shades the stroke along its length (darker roots) without blacking it out.
    float shade = mix(0.3, 1.0, max(v_light, 0.0));
    vec3 color = (ambient * ao + direct) * bright * shade;
    fragColor = vec4(color, m_color.a);
}
