ardour {
	["type"]    = "dsp",
	name        = "Kestrune Test Capture",
	category    = "Utility",
	license     = "MIT",
	author      = "KestruneRoom tests",
	description = [[Keeps the first 1.5 s of the timeline, while the transport rolls, in shared memory.]]
}

local frames = 72000 -- 1.5 s at 48 kHz

function dsp_ioconfig () return { { audio_in = 2, audio_out = 2 } } end

-- Shared memory: one integer, the end of what was kept, then each channel's frames.
function dsp_init (rate)
	self:shmem ():allocate (1 + 2 * frames)
	self:shmem ():clear ()
end

function dsp_run (ins, outs, n_samples)
	for c = 1, #outs do
		if ins[c] ~= outs[c] then ARDOUR.DSP.copy_vector (outs[c], ins[c], n_samples) end
	end
	if not Session:transport_rolling () then return end
	local pos = Session:transport_sample ()
	local n = math.min (n_samples, frames - pos)
	if pos < 0 or n <= 0 then return end
	local shmem = self:shmem ()
	for c = 1, 2 do
		ARDOUR.DSP.copy_vector (shmem:to_float (1 + (c - 1) * frames + pos), ins[c], n)
	end
	shmem:atomic_set_int (0, math.max (shmem:atomic_get_int (0), pos + n))
end
