#version 410 core
// Skin: a softly wrapped diffuse term on the diffuse normal and a normalised
// Blinn-Phong specular on the specular normal, under the key light with its
// shadow map, plus a sky/ground ambient. The head's maps arrive numbered by
// type in load order: diffuse albedo _Diffuse_Map0, diffuse normal
// _Normal_Map0, specular albedo _Diffuse_Map1, specular normal _Normal_Map1,
// displacement _Disp_Map0. Each is optional; normal maps are tangent space.
in vec3 v_worldPos;
in vec3 v_normal;
in vec3 v_tangent;
in vec3 v_bitangent;
in vec2 v_uv;

uniform vec4 m_color = vec4(1.0);
uniform float m_opacity = 1.0;
uniform vec3 m_viewPos = vec3(0.0);
uniform vec3 m_lightPos0 = vec3(0.0, 1.0, 0.0);   // direction towards the light
uniform vec3 m_lightColor0 = vec3(1.0);
uniform mat4 m_lightSpaceMatrix0 = mat4(1.0);

uniform sampler2D _Diffuse_Map0;
uniform int is_Diffuse_Map0 = 0;
uniform sampler2D _Normal_Map0;
uniform int is_Normal_Map0 = 0;
uniform sampler2D _Diffuse_Map1;
uniform int is_Diffuse_Map1 = 0;
uniform sampler2D _Normal_Map1;
uniform int is_Normal_Map1 = 0;
uniform sampler2D _Disp_Map0;
uniform int is_Disp_Map0 = 0;
uniform sampler2D _Shadow_Map0;
uniform int is_Shadow_Map0 = 0;

out vec4 fragColor;

const float kShininess = 40.0;
const float kSpecularWithoutMap = 0.06;

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

vec3 mapNormal(sampler2D map, mat3 tbn)
{
    vec3 m = texture(map, v_uv).xyz * 2.0 - 1.0;
    return normalize(tbn * m);
}

void main()
{
    vec3 n = normalize(v_normal);
    // Tangents may be missing or degenerate where the mesh has no texture layout.
    vec3 t = v_tangent - n * dot(v_tangent, n);
    t = dot(t, t) > 1e-12 ? normalize(t) : normalize(cross(n, abs(n.y) < 0.9 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0)));
    vec3 b = dot(v_bitangent, v_bitangent) > 1e-12 ? normalize(v_bitangent) : cross(n, t);
    mat3 tbn = mat3(t, b, n);

    vec3 nDiffuse = is_Normal_Map0 != 0 ? mapNormal(_Normal_Map0, tbn) : n;
    vec3 nSpecular = is_Normal_Map1 != 0 ? mapNormal(_Normal_Map1, tbn) : nDiffuse;

    vec3 albedo = is_Diffuse_Map0 != 0 ? texture(_Diffuse_Map0, v_uv).rgb : m_color.rgb;
    vec3 specAlbedo = is_Diffuse_Map1 != 0 ? texture(_Diffuse_Map1, v_uv).rgb : vec3(kSpecularWithoutMap);
    // Displacement read as relief around mid-grey: hollows hold less light.
    float cavity = is_Disp_Map0 != 0 ? clamp(0.75 + 0.5 * texture(_Disp_Map0, v_uv).r, 0.75, 1.0) : 1.0;

    vec3 toView = m_viewPos - v_worldPos;
    vec3 v = dot(toView, toView) > 1e-12 ? normalize(toView) : n;
    vec3 l = normalize(m_lightPos0);
    vec3 h = normalize(l + v);

    float visible = shadowVisibility(v_worldPos, n, l);
    float wrap = 0.25;   // light bleeding past the terminator, as skin does
    float diffuse = max((dot(nDiffuse, l) + wrap) / (1.0 + wrap), 0.0);
    float ndl = max(dot(nSpecular, l), 0.0);
    float fresnel = 0.04 + 0.96 * pow(1.0 - max(dot(h, v), 0.0), 5.0);
    float specular = (kShininess + 8.0) / (8.0 * 3.14159265) * pow(max(dot(nSpecular, h), 0.0), kShininess)
                     * ndl * mix(1.0, 4.0, fresnel);

    vec3 ambient = mix(vec3(0.20, 0.18, 0.17), vec3(0.36, 0.38, 0.42), 0.5 + 0.5 * nDiffuse.y);
    vec3 color = albedo * (ambient * cavity + m_lightColor0 * diffuse * visible * 0.85)
               + specAlbedo * m_lightColor0 * specular * visible * cavity;
    fragColor = vec4(color, m_color.a * m_opacity);
}
