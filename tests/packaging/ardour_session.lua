-- Run through ardour7-lua by tests/packaging/deb_ardour_test.sh: a headless session (no audio
-- hardware) lists the VST plug-ins Ardour found on its own paths and, when ours is among them,
-- puts it on a track.
AudioEngine:set_backend("None (Dummy)", "", "")
local session = create_session(os.getenv("QR_SESSION"), "packagetest", 48000)
assert(session, "could not create a session")

local name = "Quorvel Remote Control Demo"
local listed = false
for info in ARDOUR.LuaAPI.list_plugins():iter() do
  if info.name == name and info.type == ARDOUR.PluginType.LXVST then
    print("listed: " .. info.path .. " by " .. info.creator)
    listed = true
  end
end

if listed then
  local tracks = session:new_audio_track(2, 2, nil, 1, "Remote",
    ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
  local plugin = ARDOUR.LuaAPI.new_plugin(session, name, ARDOUR.PluginType.LXVST, "")
  assert(not plugin:isnil(), "listed, but Ardour could not create it")
  for track in tracks:iter() do
    assert(track:add_processor_by_index(plugin, 0, nil, true) == 0, "could not add it to a track")
  end
  local loaded = plugin:to_insert():plugin(0)
  print("inserted: " .. loaded:name() .. " by " .. loaded:maker() .. ", " ..
        loaded:parameter_count() .. " parameters")
end
close_session()
