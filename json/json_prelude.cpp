// The script prelude each JsonObject engine loads with AddCode: one line of
// ASCII. It defines get__count (for-in count less the two names this
// prelude adds to Object.prototype), a JSON object with stringify and parse
// for engines that have none (the Script Control's JScript has none), and
// Object.prototype.toJSONString / parseJSON. Engines that already provide a
// piece keep theirs.
//
// Wine's JScript keeps a few dozen bytes for good each time it compiles
// code holding a loop or a switch, and every Parse starts a new engine that
// compiles this prelude: a day of refreshes would keep megabytes, and the
// kept blocks scattered through the heap make it grow faster still. So
// nothing here is a loop or a switch when loaded: each function that needs
// a loop is a stub that, on its first call in an engine, compiles the real
// one by eval in the same scope, puts it in its own place and calls it. A
// refresh (Parse, one member's text) never calls one. The deferred sources
// use only double quotes (nl stands for a line break), so that they sit in
// a single-quoted eval without escapes.
#include "json/json_object.h"

namespace json {

// Adjacent raw literals: the text itself has no line breaks.
const char kJsonPrelude[] =
    R"js(function get__count(c){eval('get__count=function(c){var i=-2;for(v in c)i++;return i}');)js"
    R"js(return get__count(c)})js"
    R"js(if(typeof JSON!=='object'){JSON={}})js"
    R"js((function(){'use strict';)js"
    // Characters a JSON string writes as escapes, and those JSON.parse
    // escapes before it looks at a text.
    R"js(var special=/[\\"\u0000-\u001f\u007f-\u009f\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)js"
    R"js(hidden=/[\u0000\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)js"
    R"js(named={'\b':'\\b','\t':'\\t','\n':'\\n','\f':'\\f','\r':'\\r','"':'\\"','\\':'\\\\'},)js"
    R"js(nl='\n',indent,step,filter;)js"
    R"js(function pad(n){return n<10?'0'+n:n})js"
    R"js(function uhex(ch){return '\\u'+('0000'+ch.charCodeAt(0).toString(16)).slice(-4)})js"
    R"js(if(typeof Date.prototype.toJSON!=='function'){)js"
    R"js(Date.prototype.toJSON=function(){return isFinite(this.valueOf())?this.getUTCFullYear()+'-'+)js"
    R"js(pad(this.getUTCMonth()+1)+'-'+pad(this.getUTCDate())+'T'+pad(this.getUTCHours())+':'+)js"
    R"js(pad(this.getUTCMinutes())+':'+pad(this.getUTCSeconds())+'Z':null};)js"
    R"js(String.prototype.toJSON=Number.prototype.toJSON=Boolean.prototype.toJSON=)js"
    R"js(function(){return this.valueOf()}})js"
    R"js(function quote(s){special.lastIndex=0;return '"'+(special.test(s)?s.replace(special,)js"
    R"js(function(ch){var e=named[ch];return typeof e==='string'?e:uhex(ch)}):s)+'"'})js"
    // The serialiser: toJSON, then the replacer function; a value of its
    // own kind here, an object or array by nest.
    R"js(function write(key,holder){var t,outer=indent,val=holder[key];)js"
    R"js(if(val&&typeof val==='object'&&typeof val.toJSON==='function'){val=val.toJSON(key)})js"
    R"js(if(typeof filter==='function'){val=filter.call(holder,key,val)})js"
    R"js(t=typeof val;if(t==='string'){return quote(val)})js"
    R"js(if(t==='number'){return isFinite(val)?String(val):'null'})js"
    R"js(if(t==='boolean'||t==='null'){return String(val)})js"
    R"js(if(t==='object'){if(!val){return 'null'}return nest(val,outer)}})js"
    // Objects by for-in over own names (or the replacer's list of names),
    // left out when they give nothing; array holes as null.
    R"js(function nest(val,outer){eval('nest=function(val,outer){var i,k,v,list;indent+=step;list=[];)js"
    R"js(if(Object.prototype.toString.apply(val)==="[object Array]"){)js"
    R"js(for(i=0;i<val.length;i+=1){list[i]=write(i,val)||"null"})js"
    R"js(v=list.length===0?"[]":indent?"["+nl+indent+list.join(","+nl+indent)+nl+outer+"]":)js"
    R"js("["+list.join(",")+"]";indent=outer;return v})js"
    R"js(if(filter&&typeof filter==="object"){for(i=0;i<filter.length;i+=1){)js"
    R"js(if(typeof filter[i]==="string"){k=filter[i];v=write(k,val);)js"
    R"js(if(v){list.push(quote(k)+(indent?": ":":")+v)}}}}else{for(k in val){)js"
    R"js(if(Object.prototype.hasOwnProperty.call(val,k)){v=write(k,val);)js"
    R"js(if(v){list.push(quote(k)+(indent?": ":":")+v)}}}})js"
    R"js(v=list.length===0?"{}":indent?"{"+nl+indent+list.join(","+nl+indent)+nl+outer+"}":)js"
    R"js("{"+list.join(",")+"}";indent=outer;return v}');return nest(val,outer)})js"
    R"js(function spaces(n){eval('spaces=function(n){var s="",i;for(i=0;i<n;i+=1){s+=" "}return s}');)js"
    R"js(return spaces(n)})js"
    R"js(if(typeof JSON.stringify!=='function'){JSON.stringify=function(value,replacer,space){)js"
    R"js(indent='';step='';)js"
    R"js(if(typeof space==='number'){step=spaces(space)})js"
    R"js(else if(typeof space==='string'){step=space})js"
    R"js(filter=replacer;if(replacer&&typeof replacer!=='function'&&)js"
    R"js((typeof replacer!=='object'||typeof replacer.length!=='number')){throw new Error('JSON.stringify')})js"
    R"js(return write('',{'':value})}})js"
    // JSON.parse: escape the invisible characters, then accept the text only
    // when nothing but JSON punctuation is left once escapes, tokens and
    // opening brackets are taken out; the accepted text is evaluated.
    R"js(function revive(holder,key,reviver){eval('revive=function(holder,key,reviver){var k,v,val=holder[key];)js"
    R"js(if(val&&typeof val==="object"){for(k in val){if(Object.prototype.hasOwnProperty.call(val,k)){)js"
    R"js(v=revive(val,k,reviver);if(v!==undefined){val[k]=v}else{delete val[k]}}}})js"
    R"js(return reviver.call(holder,key,val)}');return revive(holder,key,reviver)})js"
    R"js(if(typeof JSON.parse!=='function'){JSON.parse=function(text,reviver){var j;)js"
    R"js(text=String(text);hidden.lastIndex=0;if(hidden.test(text)){text=text.replace(hidden,uhex)})js"
    R"js(if(/^[\],:{}\s]*$/.test(text.replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g,'@'))js"
    R"js(.replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g,']'))js"
    R"js(.replace(/(?:^|:|,)(?:\s*\[)+/g,''))){j=eval('('+text+')');)js"
    R"js(return typeof reviver==='function'?revive({'':j},'',reviver):j})js"
    R"js(throw new SyntaxError('JSON.parse')}}}());)js"
    R"js(if(typeof Object.prototype.toJSONString!=='function'){)js"
    R"js(Object.prototype.toJSONString=function(filter){return JSON.stringify(this,filter)};)js"
    R"js(Object.prototype.parseJSON=function(filter){return JSON.parse(this,filter)}})js";

const uint32_t kJsonPreludeLength = sizeof kJsonPrelude - 1;

}  // namespace json
