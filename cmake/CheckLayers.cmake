# cmake -DGRAPH=<build>/target-graph.txt -P CheckLayers.cmake
# Fails when the links between our targets form a cycle or go up the layers, so that a link that
# breaks the architecture fails a test on the day it is added.
cmake_minimum_required(VERSION 3.25)

# The layers, bottom up; a target may link only targets of lower layers. The platform is the bottom
# layer, and its interfaces may link one another (but nothing above them). A target's tests sit in
# its layer and may also link its peers: nothing links a test. The shared test support links
# nothing of ours, so it lies below everything. A new target needs a line here.
set(layers
  "quorvane_testing"
  "platform_.*"
  "crash_reporter_async|crash_reporter_async_test_image|crash_reporter_async_test_unwind"
  "crash_reporter_format"
  "crash_reporter"
  "dzcrash_crash_helper"
  "measurement_wire"
  "measurement_foundation"
  "measurement_engine"
  "measurement_audiences_filters|measurement_audiences_experiments|measurement_audiences_conditional|measurement_audiences_purchases"
  "measurement_audiences"
  "measurement_interpreter"
  "measurement_interpreter_fuzz|measurement_interpreter_fuzzer|measurement_library"
  "shortcut_recorder"
  "DudIzizoz_util"
  "DudIzizoz_model|DudIzizoz_delegateforwarder"
  "DudIzizozAnalytics_model"
  "DudIzizoz_context"
  "DudIzizoz_storage"
  "DudIzizoz_httpclient"
  "DudIzizoz_ingestion"
  "DudIzizoz_channel"
  "DudIzizozAnalytics_session"
  "DudIzizoz"
  "DudIzizozCrashes_model"
  "DudIzizozCrashes_internalmodel"
  "DudIzizozCrashes_util"
  "DudIzizozAnalytics_transmissiontarget"
  "DudIzizozAnalytics|DudIzizozCrashes"
  "diz_crashes_helper"
  "Settings|login_item"
  "quorvane_app"
  "quorvane_simulation"
  "quorvane|bench_.*")

function(layer_of target out)
  string(REGEX REPLACE "_tests$" "" library ${target})
  set(index 0)
  foreach(pattern IN LISTS layers)
    if(library MATCHES "^(${pattern})$")
      set(${out} ${index} PARENT_SCOPE)
      return()
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

file(STRINGS ${GRAPH} lines)
set(targets "")
set(problems "")
foreach(line IN LISTS lines)
  string(REPLACE " " ";" line "${line}")
  list(POP_FRONT line target)
  list(APPEND targets ${target})
  set(links_${target} ${line})
endforeach()

foreach(target IN LISTS targets)
  layer_of(${target} layer)
  if(layer STREQUAL "")
    list(APPEND problems "${target} belongs to no layer: add it to the table in CheckLayers.cmake")
    continue()
  endif()
  foreach(link IN LISTS links_${target})
    layer_of(${link} linked)
    if(target MATCHES "^platform_" AND NOT link MATCHES "^(platform_.*|quorvane_testing)$")
      list(APPEND problems "${target} -> ${link}: the platform links nothing of ours above it")
    elseif(target MATCHES "^platform_" OR linked STREQUAL "")
      continue()
    elseif(target MATCHES "_tests$" AND linked GREATER layer)
      list(APPEND problems "${target} -> ${link}: a test links a layer above its target's")
    elseif(NOT target MATCHES "_tests$" AND linked GREATER_EQUAL layer)
      list(APPEND problems "${target} -> ${link}: links a target that is not in a lower layer")
    endif()
  endforeach()
endforeach()

# Peel off the targets that link nothing left (bottoms), then those that nothing left links (tops);
# what remains lies on a cycle.
function(peel remaining end out)
  while(TRUE)
    set(peeled "")
    foreach(target IN LISTS remaining)
      set(held FALSE)
      foreach(other IN LISTS remaining)
        if(end STREQUAL "tops" AND target IN_LIST links_${other})
          set(held TRUE)
        elseif(end STREQUAL "bottoms" AND other IN_LIST links_${target})
          set(held TRUE)
        endif()
      endforeach()
      if(NOT held)
        list(APPEND peeled ${target})
      endif()
    endforeach()
    if(NOT peeled)
      break()
    endif()
    list(REMOVE_ITEM remaining ${peeled})
  endwhile()
  set(${out} ${remaining} PARENT_SCOPE)
endfunction()
peel("${targets}" bottoms remaining)
peel("${remaining}" tops remaining)
if(remaining)
  list(JOIN remaining ", " names)
  list(APPEND problems "a cycle runs through ${names}")
endif()

list(LENGTH targets count)
if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "The links between ${count} targets break the layering:\n  ${text}")
endif()
message(STATUS "${count} targets, no cycle, every link goes down the layers")
