#include "host/shader.h"

namespace host {

// Adjacent literals join into one line: no piece below contains a newline.
// clang-format off
const char kShaderText[] =
    "uniform int mm;"
    "vec3 v=vec3(1280.,720.,0.);"
    "float m;"
    // Tone curve x -> q/(q+x+T*T) with q=(T*T+1)x*x and T=.5, and its
    // application to a colour, scaled so that 1.5 maps to 1.
    "float fc(float x){float T=.5;float q=(T*T+1.)*x*x;return q/(q+x+T*T);}"
    "vec3 fr(vec3 c){return vec3(fc(c.r),fc(c.g),fc(c.b))/fc(1.5);}"
    // Colour correction: lift and scale blue and red, then a soft clip.
    "vec3 cc(vec3 c){c.b=.002+.92*c.b;c.r=.003+1.1*c.r;return smoothstep(-.02,1.1,c);}"
    // The distance field at scene time w: a lattice of spheres, one per
    // 4-unit cell, breathing with time, carved out by a long box corridor.
    "float sd(vec3 p,float w){"
      "vec3 q=mod(p,4.)-2.;"
      "float c=length(q)-.9-.2*sin(w+p.z*.1);"
      "vec3 b=abs(p-vec3(0.,0.,40.))-vec3(5.,3.,80.);"
      "float x=length(max(b,0.))+min(max(b.x,max(b.y,b.z)),0.);"
      "return max(c,-x);"
    "}"
    // One point light at l of colour k on the surface point p with normal n
    // seen along the ray r: diffuse plus a specular lobe of exponent 4.5,
    // falling off with distance.
    "vec3 lt(vec3 p,vec3 n,vec3 r,vec3 l,vec3 k){"
      "vec3 d=l-p;vec3 q=normalize(d);"
      "float a=max(dot(n,q),0.);"
      "float s=pow(max(dot(reflect(q,n),r),0.),4.5);"
      "return k*(a+s)/(1.+.02*dot(d,d));"
    "}"
    // The scene at time t (seconds) for the normalised coordinate f.
    "vec4 pp(float t,vec2 f){"
      // Mirror about the vertical centre line.
      "vec2 u=vec2(abs(f.x-.5)+.5,f.y);"
      "vec2 s=(u*2.-1.)*vec2(v.x/v.y,1.);"
      // Warped scene time: it lingers and rushes around the real one.
      "float w=t+2.*sin(t*.05);"
      // Fade to black from 155 s to 187 s: the far limit shrinks from 1000
      // to 0, so more and more rays come back without a hit.
      "float fl=1000.*(1.-clamp((t-155.)/32.,0.,1.));"
      "vec3 o=vec3(0.,0.,w*2.);"
      "vec3 r=normalize(vec3(s,1.5));"
      // Timeline cues.
      "if(t>14.8&&t<15.2)r.xy=-r.xy;"
      "if(t>19.6&&t<21.8){float a=(t-19.6)*1.4;r.xz=mat2(cos(a),sin(a),-sin(a),cos(a))*r.xz;}"
      "if(w>95.4&&w<112.9){o.y+=sin(w*2.)*.8;r.y+=.2*sin(w);}"
      "if(t>153.5)o.z-=(t-153.5)*4.;"
      // March at most 8 steps from distance 3; a hit is closer than .2.
      "float z=3.;bool h=false;"
      "for(int i=0;i<8;i++){"
        "if(z>fl)break;"
        "float d=sd(o+r*z,w);"
        "if(d<.2){h=true;break;}"
        "z+=d;"
      "}"
      "vec3 c=vec3(0.);"
      "if(h&&z<fl){"
        "vec3 p=o+r*z;"
        "vec2 e=vec2(.01,0.);"
        "vec3 n=normalize(vec3(sd(p+e.xyy,w)-sd(p-e.xyy,w),"
                             "sd(p+e.yxy,w)-sd(p-e.yxy,w),"
                             "sd(p+e.yyx,w)-sd(p-e.yyx,w)));"
        "c=lt(p,n,r,o+vec3(2.,3.,5.),vec3(1.,.8,.6))"
         "+lt(p,n,r,o+vec3(-3.,-1.,12.),vec3(.4,.6,1.));"
      "}"
      // Vignette: darker towards the corners.
      "c*=pow(16.*f.x*f.y*(1.-f.x)*(1.-f.y),.25);"
      "c=clamp(c,0.,1.);"
      // Near-white pixels shimmer slightly with the scene time.
      "if(dot(c,vec3(.3333))>.9)c*=.9+.1*sin(w*6.);"
      "return vec4(c,1.);"
    "}"
    "void main(){"
      "vec2 f=gl_FragCoord.xy/v.xy;"
      "m=float(mm)*.001;"
      "gl_FragColor.xyz=vec3(0.,1.,0.);"
    "}";
// clang-format on

}  // namespace host
