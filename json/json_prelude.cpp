// The script prelude each JsonObject engine loads with AddCode: one line of
// ASCII. It defines get__count (for-in count less the two names this
// prelude adds to Object.prototype), a JSON object with stringify and parse
// for engines that have none (the Script Control's JScript has none), and
// Object.prototype.toJSONString / parseJSON. Engines that already provide a
// piece keep theirs.
#include "json/json_object.h"

namespace json {

// Adjacent raw literals: the text itself has no line breaks.
const char kJsonPrelude[] =
    R"js(function get__count(c){var i=-2;for(v in c)i++;return i})js"
    R"js(if(typeof JSON!=='object'){JSON={}})js"
    R"js((function(){'use strict';)js"
    // Characters a JSON string writes as escapes, and those JSON.parse
    // escapes before it looks at a text.
    R"js(var special=/[\\"\u0000-\u001f\u007f-\u009f\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)js"
    R"js(hidden=/[\u0000\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)js"
    R"js(named={'\b':'\\b','\t':'\\t','\n':'\\n','\f':'\\f','\r':'\\r','"':'\\"','\\':'\\\\'},)js"
    R"js(indent,step,filter;)js"
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
    // The serialiser: toJSON, then the replacer function; objects by for-in
    // over own names, left out when they give nothing; array holes as null.
    R"js(function write(key,holder){var i,k,v,list,outer=indent,val=holder[key];)js"
    R"js(if(val&&typeof val==='object'&&typeof val.toJSON==='function'){val=val.toJSON(key)})js"
    R"js(if(typeof filter==='function'){val=filter.call(holder,key,val)})js"
    R"js(switch(typeof val){case 'string':return quote(val);)js"
    R"js(case 'number':return isFinite(val)?String(val):'null';)js"
    R"js(case 'boolean':case 'null':return String(val);)js"
    R"js(case 'object':if(!val){return 'null'})js"
    R"js(indent+=step;list=[];)js"
    R"js(if(Object.prototype.toString.apply(val)==='[object Array]'){)js"
    R"js(for(i=0;i<val.length;i+=1){list[i]=write(i,val)||'null'})js"
    R"js(v=list.length===0?'[]':indent?'[\n'+indent+list.join(',\n'+indent)+'\n'+outer+']':)js"
    R"js('['+list.join(',')+']';indent=outer;return v})js"
    R"js(if(filter&&typeof filter==='object'){for(i=0;i<filter.length;i+=1){)js"
    R"js(if(typeof filter[i]==='string'){k=filter[i];v=write(k,val);)js"
    R"js(if(v){list.push(quote(k)+(indent?': ':':')+v)}}}}else{for(k in val){)js"
    R"js(if(Object.prototype.hasOwnProperty.call(val,k)){v=write(k,val);)js"
    R"js(if(v){list.push(quote(k)+(indent?': ':':')+v)}}}})js"
    R"js(v=list.length===0?'{}':indent?'{\n'+indent+list.join(',\n'+indent)+'\n'+outer+'}':)js"
    R"js('{'+list.join(',')+'}';indent=outer;return v}})js"
    R"js(if(typeof JSON.stringify!=='function'){JSON.stringify=function(value,replacer,space){)js"
    R"js(var i;indent='';step='';)js"
    R"js(if(typeof space==='number'){for(i=0;i<space;i+=1){step+=' '}})js"
    R"js(else if(typeof space==='string'){step=space})js"
    R"js(filter=replacer;if(replacer&&typeof replacer!=='function'&&)js"
    R"js((typeof replacer!=='object'||typeof replacer.length!=='number')){throw new Error('JSON.stringify')})js"
    R"js(return write('',{'':value})}})js"
    // JSON.parse: escape the invisible characters, then accept the text only
    // when nothing but JSON punctuation is left once escapes, tokens and
    // opening brackets are taken out; the accepted text is evaluated.
    R"js(if(typeof JSON.parse!=='function'){JSON.parse=function(text,reviver){var j;)js"
    R"js(function revive(holder,key){var k,v,val=holder[key];if(val&&typeof val==='object'){)js"
    R"js(for(k in val){if(Object.prototype.hasOwnProperty.call(val,k)){v=revive(val,k);)js"
    R"js(if(v!==undefined){val[k]=v}else{delete val[k]}}}}return reviver.call(holder,key,val)})js"
    R"js(text=String(text);hidden.lastIndex=0;if(hidden.test(text)){text=text.replace(hidden,uhex)})js"
    R"js(if(/^[\],:{}\s]*$/.test(text.replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g,'@'))js"
    R"js(.replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g,']'))js"
    R"js(.replace(/(?:^|:|,)(?:\s*\[)+/g,''))){j=eval('('+text+')');)js"
    R"js(return typeof reviver==='function'?revive({'':j},''):j})js"
    R"js(throw new SyntaxError('JSON.parse')}}}());)js"
    R"js(if(typeof Object.prototype.toJSONString!=='function'){)js"
    R"js(Object.prototype.toJSONString=function(filter){return JSON.stringify(this,filter)};)js"
    R"js(Object.prototype.parseJSON=function(filter){return JSON.parse(this,filter)}})js";

const uint32_t kJsonPreludeLength = sizeof kJsonPrelude - 1;

}  // namespace json
