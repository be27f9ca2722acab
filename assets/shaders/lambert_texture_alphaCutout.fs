#version 410 core
// Texture cut where its alpha is below one half; two-sided Lambert under the key light with its shadow map, plus a sky/ground
// ambient so that faces turned away from the light keep their shape.
in vec3 v_worldPos;
in vec3 v_normal;
in vec2 v_uv;

uniform sampler2D _Diffuse_Map0;
uniform int is_Diffuse_Map0 = 0;
uniform vec4 m_color = vec4(1.0);
uniform float m_opacity = 1.0;
uniform vec3 m_viewPos = vec3(0.0);
uniform vec3 m_lightPos0 = vec3(0.0, 1.0, 0.0);   // direction towards the light
uniform vec3 m_lightColor0 = vec3(1.0);
uniform mat4 m_lightSpaceMatrix0 = mat4(1.0);
uniform sampler2D _Shadow_Map0;
uniform int is_Shadow_Map0 = 0;

out vec4 fragColor;

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

void main()
{
    // Textured meshes show their texture; the object colour is the fallback.
    vec4 base = is_Diffuse_Map0 != 0 ? texture(_Diffuse_Map0, v_uv) : m_color;
    if (base.a < 0.5)
        discard;
    vec3 n = normalize(v_normal);
    vec3 v = m_viewPos - v_worldPos;
    if (dot(v, v) > 1e-12 && dot(n, v) < 0.0)
        n = -n;
    vec3 l = normalize(m_lightPos0);
    float ndl = max(dot(n, l), 0.0);
    vec3 ambient = mix(vec3(0.20, 0.19, 0.18), vec3(0.36, 0.38, 0.42), 0.5 + 0.5 * n.y);
    vec3 lit = ambient + m_lightColor0 * ndl * shadowVisibility(v_worldPos, n, l) * 0.85;
    fragColor = vec4(base.rgb * lit, base.a * m_opacity);
}
