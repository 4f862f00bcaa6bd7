-- Headless Ardour session for the section test: a Vocal QUORVANE on a track
-- of noise (Offset A -6 dB, Offset B +6 dB) whose discrete section lane, in
-- audio time, switches to B exactly on a cycle boundary and back to A 72
-- samples before another one. QVN_PHASE "create" makes and saves the session;
-- "reference" saves a snapshot of it with the plug-in deactivated. The shell
-- side renders both by export, which runs the plug-in in the engine's process
-- cycles with the automation points at their offsets.

local uid = os.getenv ("QVN_PLUGIN_UID")
local dir = os.getenv ("QVN_SESSION_DIR")
local phase = os.getenv ("QVN_PHASE")
local rate = 48000
local cycle = tonumber (os.getenv ("QVN_CYCLE"))
local len = tonumber (os.getenv ("QVN_LENGTH"))
local toB = tonumber (os.getenv ("QVN_POINT_B"))
local toA = tonumber (os.getenv ("QVN_POINT_A"))
local name = "qvn-sections"

local function fail (msg)
	print ("FAIL: " .. msg)
	os.exit (1)
end

AudioEngine:set_backend ("None (Dummy)", "", "")
AudioEngine:set_sample_rate (rate)
AudioEngine:set_buffer_size (cycle)
if AudioEngine:start (false) ~= 0 then fail ("audio engine did not start") end

if phase == "create" then
	if create_session (dir, name, rate) == nil then fail ("session not created") end

	-- Source material: noise bounced from a generator into a region; the
	-- generator is taken out again so that its track stays silent.
	local gen = Session:new_audio_track (2, 2, nil, 1, "Source", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front ()
	local noise = ARDOUR.LuaAPI.new_luaproc (Session, "ACE Noise")
	if noise:isnil () then fail ("noise generator missing") end
	gen:add_processor_by_index (noise, 0, nil, true)
	local source = gen:bounce_range (0, len, ARDOUR.InterThreadInfo (), noise, true, "noise")
	if source:isnil () then fail ("source bounce failed") end
	local sar = source:to_audioregion ()
	sar:set_fade_in_active (false)
	sar:set_fade_out_active (false)
	if gen:remove_processor (noise, nil, true) ~= 0 then fail ("generator not removed") end

	local track = Session:new_audio_track (2, 2, nil, 1, "Vocal", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front ()
	track:to_track ():playlist ():add_region (source, Temporal.timepos_t (0), 1, false, 0, 0, false)

	-- Audio time: lanes of a plug-in added with new_plugin are in beat time
	-- and would round the point positions.
	local p = ARDOUR.LuaAPI.new_plugin_with_time_domain (Session, uid, ARDOUR.PluginType.VST3, Temporal.TimeDomain.AudioTime, "")
	if p:isnil () then fail ("QUORVANE not found (" .. uid .. ")") end
	if track:add_processor_by_index (p, 0, nil, true) ~= 0 then fail ("insert failed") end
	-- Vocal, Offset A -6 dB, Offset B +6 dB (normalised over -12..+12 dB).
	if not ARDOUR.LuaAPI.set_processor_param (p, 0, 1.0) then fail ("role not set") end
	if not ARDOUR.LuaAPI.set_processor_param (p, 2, 0.25) then fail ("offset A not set") end
	if not ARDOUR.LuaAPI.set_processor_param (p, 3, 0.75) then fail ("offset B not set") end

	local al, cl, pd = ARDOUR.LuaAPI.plugin_automation (p, 1)
	if al:isnil () then fail ("no section lane") end
	cl:set_interpolation (Evoral.InterpolationStyle.Discrete)
	cl:add (Temporal.timepos_t (0), 0, false, false)
	cl:add (Temporal.timepos_t (toB), 1 / 15, false, false)
	cl:add (Temporal.timepos_t (toA), 0, false, false)
	local ac = p:to_automatable ():automation_control (Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, 1), false)
	if ac:isnil () then fail ("no section control") end
	ac:set_automation_state (ARDOUR.AutoState.Play)

	for e in cl:events ():iter () do
		print ("section point at " .. e.when:samples () .. ": " .. e.value)
	end
else
	if load_session (dir, name) == nil then fail ("session not opened") end
	local found = false
	for r in Session:get_routes ():iter () do
		local proc = r:nth_plugin (0)
		if not proc:isnil () and proc:display_name () == "QUORVANE" then
			proc:deactivate ()
			found = true
		end
	end
	if not found then fail ("QUORVANE missing after reopening") end
	name = "reference"
end

Session:save_state (phase == "create" and "" or name, false, false, false, false, false)
print ("SAVED")
close_session ()
quit ()
